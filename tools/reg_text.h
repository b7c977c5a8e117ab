// Editing the text of a .reg file (the format regedit imports, and the
// driver's settings file on POSIX): values of one key are set or removed,
// and every other line, key and value stays as it was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One change to a key's values.
struct RegChange {
  std::string name;
  enum Kind { Text, Dword, Remove } kind;
  std::string text;
  uint32_t dword = 0;
};

// The text with `changes` applied to the values of `key` (a full path such
// as "HKEY_CURRENT_USER\\Software\\..."), its sections found as the driver's
// reader finds them ("HKCU", any case, trailing backslashes). A value is
// taken out of every section of the key, and a new one goes into the last
// (the key's section added at the end when missing). An empty text becomes
// a whole file with its header line.
std::string EditRegText(const std::string& text, const std::string& key, const std::vector<RegChange>& changes);

// A .reg file's bytes (UTF-16 little-endian with its byte-order mark, or
// UTF-8) as UTF-8 text, and UTF-8 text as the UTF-16 bytes regedit writes.
std::string RegBytesToUtf8(const std::string& bytes);
std::string Utf8ToRegUtf16(const std::string& text);
