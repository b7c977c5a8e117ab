#include "reg_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

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

// Whether a line opens a section (any line that begins with "[", as the
// driver's reader takes it, deletions "[-key]" and broken ones included).
bool OpensSection(const std::string& line) {
  const std::string t = Trim(line);
  return !t.empty() && t[0] == '[';
}

// The key a section line names, as the driver's reader matches it: lower
// case, "HKCU" and "HKLM" spelled out, trailing backslashes dropped; "" for
// other lines, deletions and broken sections.
std::string SectionKeyOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 3 || t.front() != '[' || t.back() != ']' || t[1] == '-') return "";
  std::string key = Lower(t.substr(1, t.size() - 2));
  for (const auto& alias :
       {std::make_pair("hkcu", "hkey_current_user"), std::make_pair("hklm", "hkey_local_machine")}) {
    const size_t n = std::char_traits<char>::length(alias.first);
    if (key.compare(0, n, alias.first) == 0 && (key.size() == n || key[n] == '\\')) key = alias.second + key.substr(n);
  }
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

// The value name a line sets ("name"=..., "name" = ..., @=...), lower
// case; "" when none.
std::string ValueNameOf(const std::string& line) {
  const std::string t = Trim(line);
  std::string name;
  size_t at = 1;
  if (t.rfind("@", 0) == 0) {
    name = "@";
  } else if (!t.empty() && t[0] == '"') {
    for (; at < t.size() && t[at] != '"'; ++at) {
      if (t[at] == '\\' && at + 1 < t.size()) ++at;
      name += t[at];
    }
    if (at++ >= t.size()) return "";
    name = Lower(name);
  } else {
    return "";
  }
  while (at < t.size() && std::isspace(static_cast<unsigned char>(t[at]))) ++at;
  return at < t.size() && t[at] == '=' ? name : "";
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

namespace {

struct Range {
  size_t begin, end;  // the section line, and the line after its last
};

// Every section of `key` (the driver's reader merges them, later values
// winning).
std::vector<Range> SectionsOf(const std::vector<std::string>& lines, const std::string& key) {
  std::vector<Range> ranges;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!OpensSection(lines[i]) || SectionKeyOf(lines[i]) != key) continue;
    size_t end = i + 1;
    while (end < lines.size() && !OpensSection(lines[end])) ++end;
    ranges.push_back({i, end});
  }
  return ranges;
}

// Removes every line of value `name` in `range` (a value written over
// several lines ends where a line stops continuing with a backslash).
void RemoveValue(std::vector<std::string>& lines, Range& range, const std::string& name) {
  for (size_t i = range.begin + 1; i < range.end;) {
    if (ValueNameOf(lines[i]) != name) {
      ++i;
      continue;
    }
    size_t last = i;
    while (last + 1 < range.end && !lines[last].empty() && lines[last].back() == '\\') ++last;
    lines.erase(lines.begin() + static_cast<long>(i), lines.begin() + static_cast<long>(last) + 1);
    range.end -= last - i + 1;
  }
}

}  // namespace

std::string EditRegText(const std::string& text, const std::string& key, const std::vector<RegChange>& changes) {
  std::vector<std::string> lines = SplitLines(text);
  if (lines.empty()) lines = {"Windows Registry Editor Version 5.00", ""};
  const std::string wanted = SectionKeyOf("[" + key + "]");
  for (const RegChange& change : changes) {
    const std::string name = Lower(change.name);
    // Out of every section of the key, so that no older copy stays in force.
    std::vector<Range> sections = SectionsOf(lines, wanted);
    for (size_t s = sections.size(); s-- > 0;) RemoveValue(lines, sections[s], name);
    if (change.kind == RegChange::Remove) continue;
    sections = SectionsOf(lines, wanted);
    if (sections.empty()) {
      if (!lines.back().empty()) lines.push_back("");
      lines.push_back("[" + key + "]");
      sections.push_back({lines.size() - 1, lines.size()});
    }
    // Into the last section, after its last value line.
    size_t at = sections.back().end;
    while (at > sections.back().begin + 1 && Trim(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + static_cast<long>(at), LineOf(change));
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string RegBytesToUtf8(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
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
