// The registry stand-in on POSIX: a read-only text file in the format that
// regedit imports ("Windows Registry Editor Version 5.00", [key] sections,
// "name"="text", "name"=dword:0000001f, "name"=hex:..). Key and value names
// match without regard to case, as in the registry. Malformed lines are
// skipped, never fatal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../os.h"

class RegFile {
 public:
  // Parses the file's text (UTF-16 with a byte-order mark, UTF-8, ASCII).
  static RegFile Parse(const std::string& bytes);
  // Reads the file that the environment names; a missing file is empty.
  static RegFile Load();
  // PVTRIVANE_REGISTRY, else $XDG_CONFIG_HOME/pvtrivane/registry.reg, else
  // ~/.config/pvtrivane/registry.reg.
  static std::string Location();

  // A key exists when it has a section or lies on the path of one.
  bool HasKey(OsRegRoot root, const std::string& path) const;
  const std::vector<uint8_t>* Value(OsRegRoot root, const std::string& path,
                                    const std::string& name) const;
  // The names of the key's direct subkeys, sorted as regedit shows them.
  std::vector<std::string> Subkeys(OsRegRoot root, const std::string& path) const;

 private:
  struct Key {
    std::string name;  // as written, last component
    std::map<std::string, std::vector<uint8_t>> values;  // lower-case name
  };
  // Full key path in lower case, with its root as the first component.
  std::map<std::string, Key> m_keys;

  static std::string FullPath(OsRegRoot root, const std::string& path);
  void AddKey(const std::string& fullPath);
  void ParseLine(const std::string& line, std::string* section);
};
