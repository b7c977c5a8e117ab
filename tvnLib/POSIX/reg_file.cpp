#include "reg_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// Narrows UTF-16LE text with a byte-order mark; drops a UTF-8 mark.
std::string Narrow(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
      text.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    return text;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

// Reads a quoted text with \\ and \" escapes starting at text[*at] == '"'.
bool Quoted(const std::string& text, size_t* at, std::string* out) {
  if (*at >= text.size() || text[*at] != '"') return false;
  out->clear();
  for (size_t i = *at + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      out->push_back(text[++i]);
    } else if (c == '"') {
      *at = i + 1;
      return true;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

bool HexBytes(const std::string& list, std::vector<uint8_t>* out) {
  std::string digits;
  for (char c : list) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
    } else if (c == ',') {
      if (digits.empty() || digits.size() > 2) return false;
      out->push_back(static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
      digits.clear();
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  if (!digits.empty()) {
    if (digits.size() > 2) return false;
    out->push_back(static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
  }
  return true;
}

bool ParseData(const std::string& text, std::vector<uint8_t>* out) {
  if (!text.empty() && text[0] == '"') {
    size_t at = 0;
    std::string value;
    if (!Quoted(text, &at, &value) || !Trim(text.substr(at)).empty()) return false;
    out->assign(value.begin(), value.end());
    out->push_back(0);
    return true;
  }
  const std::string lower = Lower(text);
  if (lower.compare(0, 6, "dword:") == 0) {
    const std::string digits = Trim(text.substr(6));
    if (digits.empty() || digits.size() > 8 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
      return false;
    const uint32_t value = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    return true;
  }
  if (lower.compare(0, 4, "hex:") == 0) return HexBytes(text.substr(4), out);
  if (lower.compare(0, 4, "hex(") == 0) {
    const size_t colon = text.find("):");
    return colon != std::string::npos && HexBytes(text.substr(colon + 2), out);
  }
  return false;
}

const char* RootName(OsRegRoot root) {
  return root == OsRegRoot::CurrentUser ? "hkey_current_user" : "hkey_local_machine";
}

}  // namespace

std::string RegFile::FullPath(OsRegRoot root, const std::string& path) {
  std::string full = RootName(root);
  std::string rest = Lower(path);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  while (!rest.empty() && rest.front() == '\\') rest.erase(0, 1);
  if (!rest.empty()) full += "\\" + rest;
  return full;
}

void RegFile::AddKey(const std::string& written) {
  // Every key on the path exists, as when regedit creates the key.
  size_t start = 0;
  for (;;) {
    const size_t end = written.find('\\', start);
    Key& key = m_keys[Lower(written.substr(0, end))];
    if (key.name.empty()) key.name = written.substr(start, end == std::string::npos ? end : end - start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

void RegFile::ParseLine(const std::string& raw, std::string* section) {
  const std::string line = Trim(raw);
  if (line.empty() || line[0] == ';') return;
  if (line[0] == '[') {
    section->clear();
    if (line.back() != ']' || line.size() < 3 || line[1] == '-') return;
    std::string path = line.substr(1, line.size() - 2);
    const std::string lower = Lower(path);
    const struct { const char* alias; const char* name; } roots[] = {
        {"hkey_current_user", "HKEY_CURRENT_USER"}, {"hkcu", "HKEY_CURRENT_USER"},
        {"hkey_local_machine", "HKEY_LOCAL_MACHINE"}, {"hklm", "HKEY_LOCAL_MACHINE"}};
    for (const auto& root : roots) {
      const size_t n = std::char_traits<char>::length(root.alias);
      if (lower.compare(0, n, root.alias) == 0 && (lower.size() == n || lower[n] == '\\')) {
        path = std::string(root.name) + path.substr(n);
        while (!path.empty() && path.back() == '\\') path.pop_back();
        // A key name is never empty: a path with "\\" in it is malformed.
        if (path.find("\\\\") != std::string::npos) return;
        AddKey(path);
        *section = Lower(path);
        return;
      }
    }
    return;
  }
  if (section->empty()) return;
  std::string name;
  size_t at = 0;
  if (line[0] == '@') {
    at = 1;
  } else if (!Quoted(line, &at, &name)) {
    return;
  }
  while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
  if (at >= line.size() || line[at] != '=') return;
  std::vector<uint8_t> data;
  if (!ParseData(Trim(line.substr(at + 1)), &data)) return;
  m_keys[*section].values[Lower(name)] = std::move(data);
}

RegFile RegFile::Parse(const std::string& bytes) {
  RegFile file;
  std::istringstream in(Narrow(bytes));
  std::string line;
  std::string pending;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A line that ends in a backslash goes on in the next one (long hex).
    if (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos) {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    if (!pending.empty()) {
      line = pending + Trim(line);
      pending.clear();
    }
    file.ParseLine(line, &section);
  }
  if (!pending.empty()) file.ParseLine(pending, &section);
  return file;
}

std::string RegFile::Location() {
  if (const char* path = std::getenv("PVTRIVANE_REGISTRY"); path != nullptr && path[0] != '\0')
    return path;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] != '\0')
    return std::string(config) + "/pvtrivane/registry.reg";
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
    return std::string(home) + "/.config/pvtrivane/registry.reg";
  return "";
}

RegFile RegFile::Load() {
  std::ifstream in(Location(), std::ios::binary);
  if (!in) return RegFile();
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(bytes);
}

bool RegFile::HasKey(OsRegRoot root, const std::string& path) const {
  return m_keys.count(FullPath(root, path)) != 0;
}

const std::vector<uint8_t>* RegFile::Value(OsRegRoot root, const std::string& path,
                                           const std::string& name) const {
  const auto key = m_keys.find(FullPath(root, path));
  if (key == m_keys.end()) return nullptr;
  const auto value = key->second.values.find(Lower(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

std::vector<std::string> RegFile::Subkeys(OsRegRoot root, const std::string& path) const {
  const std::string parent = FullPath(root, path) + "\\";
  std::vector<std::string> names;
  for (auto it = m_keys.lower_bound(parent); it != m_keys.end() && it->first.compare(0, parent.size(), parent) == 0; ++it) {
    if (it->first.find('\\', parent.size()) == std::string::npos) names.push_back(it->second.name);
  }
  return names;  // the map's order is the lower-case order regedit shows
}
