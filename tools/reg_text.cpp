#include "reg_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// The section a line opens ("[key]" without the brackets), or "".
std::string SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return "";
  return t.substr(1, t.size() - 2);
}

// The value name a line sets ("name"=... or @=...), lower case; "" when none.
std::string ValueNameOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.rfind("@=", 0) == 0) return "@";
  if (t.empty() || t[0] != '"') return "";
  std::string name;
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i] == '\\' && i + 1 < t.size()) {
      name += t[++i];
    } else if (t[i] == '"') {
      return i + 1 < t.size() && t[i + 1] == '=' ? Lower(name) : "";
    } else {
      name += t[i];
    }
  }
  return "";
}

std::string Quoted(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

std::string LineOf(const RegChange& c) {
  if (c.kind == RegChange::Text) return Quoted(c.name) + "=" + Quoted(c.text);
  char dword[16];
  std::snprintf(dword, sizeof dword, "%08x", static_cast<unsigned>(c.dword));
  return Quoted(c.name) + "=dword:" + dword;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

std::string EditRegText(const std::string& text, const std::string& key, const std::vector<RegChange>& changes) {
  std::vector<std::string> lines = SplitLines(text);
  if (lines.empty()) lines = {"Windows Registry Editor Version 5.00", ""};
  const std::string wanted = Lower(key);
  size_t begin = lines.size(), end = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string section = SectionOf(lines[i]);
    if (section.empty()) continue;
    if (begin != lines.size()) {
      end = i;
      break;
    }
    if (Lower(section) == wanted) begin = i;
  }
  if (begin == lines.size()) {
    if (!lines.back().empty()) lines.push_back("");
    lines.push_back("[" + key + "]");
    begin = lines.size() - 1;
    end = lines.size();
  }
  for (const RegChange& change : changes) {
    const std::string name = Lower(change.name);
    bool placed = false;
    for (size_t i = begin + 1; i < end; ++i) {
      if (ValueNameOf(lines[i]) != name) continue;
      // A value written over several lines ends where a line stops
      // continuing with a backslash.
      size_t last = i;
      while (last + 1 < end && !lines[last].empty() && lines[last].back() == '\\') ++last;
      lines.erase(lines.begin() + static_cast<long>(i) + 1, lines.begin() + static_cast<long>(last) + 1);
      end -= last - i;
      if (change.kind == RegChange::Remove) {
        lines.erase(lines.begin() + static_cast<long>(i));
        --end;
      } else {
        lines[i] = LineOf(change);
      }
      placed = true;
      break;
    }
    if (placed || change.kind == RegChange::Remove) continue;
    // New values go after the section's last value line.
    size_t at = end;
    while (at > begin + 1 && Trim(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + static_cast<long>(at), LineOf(change));
    ++end;
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string RegBytesToUtf8(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint32_t c = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
        const uint32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

std::string Utf8ToRegUtf16(const std::string& text) {
  std::string out = "\xFF\xFE";
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t c = b;
    int extra = 0;
    if (b >= 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else if (b >= 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if (b >= 0xC0) {
      c = b & 0x1F;
      extra = 1;
    }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = c << 6 | (static_cast<unsigned char>(text[i]) & 0x3F);
    if (c == '\n') unit('\r');  // regedit's files end lines with CR LF
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 + (c >> 10));
      unit(0xDC00 + (c & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}
