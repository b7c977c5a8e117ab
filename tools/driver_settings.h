// The driver's settings as written, read the way the driver reads them;
// shared by the field tools.
#pragma once

#include <cstdint>
#include <string>

struct Settings {
  std::string source;  // the settings file's path, or "the Windows registry"
  bool found = false;  // the file is there (always true for the registry)
  std::string ipText;  // empty when "ip" is missing
  bool consoleSet[3] = {};
  uint32_t consoleValue[3] = {};
  bool autofocusSet = false;
  uint32_t autofocus = 0;
  bool echoSet = false;
  uint32_t echo = 0;
  uint32_t interfaceAddr = 0xFFFFFFFFu;  // as the driver parsed "ip"
};

// Reads every value of the driver's key, and runs the driver's own
// ReadSettings (which sets its interface and console numbers).
Settings ReadDriverSettings();

// The driver's values as a .reg file at `path` holds them (a settings file
// for another machine), read as the driver would read them there.
Settings ReadSettingsFile(const std::string& path);

// The settings as lines "  name = value", with what the driver makes of
// each value.
std::string SettingsText(const Settings& s);
