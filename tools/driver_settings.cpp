#include "driver_settings.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "../driver/driver_state.h"
#include "../driver/settings.h"
#include "../tvnLib/POSIX/reg_file.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/lib_startup.h"
#include "../tvnLib/os.h"
#include "../tvnLib/registry.h"

Settings ReadDriverSettings() {
  Settings s;
  char where[512];
  osRegistryLocation(where, sizeof where, &s.found);
  s.source = where;
  char* ip = nullptr;
  if (RegReadString(OsRegRoot::CurrentUser, "ip", &ip, kDriverSettingsKey) == 0 && ip != nullptr) s.ipText = ip;
  delete[] ip;
  for (int i = 0; i < 3; ++i) {
    uint32_t value = 0;
    const std::string name = "Trivane" + std::to_string(i + 1);
    s.consoleSet[i] = RegReadDword(OsRegRoot::CurrentUser, name.c_str(), &value, kDriverSettingsKey) == 0;
    s.consoleValue[i] = value;
  }
  s.autofocusSet = RegReadDword(OsRegRoot::CurrentUser, "Autofocus", &s.autofocus, kDriverSettingsKey) == 0;
  s.echoSet = RegReadDword(OsRegRoot::CurrentUser, "echo", &s.echo, kDriverSettingsKey) == 0;
  ReadSettings();
  s.interfaceAddr = InterfaceAddr;
  return s;
}

Settings ReadSettingsFile(const std::string& path) {
  Settings s;
  s.source = path;
  std::ifstream in(path, std::ios::binary);
  s.found = static_cast<bool>(in);
  const RegFile file =
      RegFile::Parse(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  auto dword = [&](const char* name, bool* set, uint32_t* value) {
    const std::vector<uint8_t>* bytes = file.Value(OsRegRoot::CurrentUser, kDriverSettingsKey, name);
    *set = bytes != nullptr && bytes->size() >= 4;
    if (*set) *value = (*bytes)[0] | (*bytes)[1] << 8 | (*bytes)[2] << 16 | static_cast<uint32_t>((*bytes)[3]) << 24;
  };
  if (const std::vector<uint8_t>* ip = file.Value(OsRegRoot::CurrentUser, kDriverSettingsKey, "ip"))
    s.ipText = std::string(ip->begin(), ip->end()).c_str();
  for (int i = 0; i < 3; ++i) dword(("Trivane" + std::to_string(i + 1)).c_str(), &s.consoleSet[i], &s.consoleValue[i]);
  dword("Autofocus", &s.autofocusSet, &s.autofocus);
  dword("echo", &s.echoSet, &s.echo);
  // As ReadSettings: at most 18 characters, through the dotted-address parser.
  s.interfaceAddr = ParseDottedAddress(s.ipText.substr(0, 18).c_str());
  return s;
}

namespace {

std::string Number(bool set, uint32_t value, const char* meaning) {
  if (!set) return "(not set)";
  char text[160];
  std::snprintf(text, sizeof text, "%u%s%s", static_cast<unsigned>(value), meaning[0] != '\0' ? "  -> " : "", meaning);
  return text;
}

const char* AutofocusMeaning(uint32_t v) {
  switch (v) {
    case 1:
      return "blind autofocus";
    case 2:
      return "MIDI autofocus";
    case 4:
      return "autofocus off";
    default:
      return "ignored: 1 blind, 2 MIDI, 4 off";
  }
}

}  // namespace

std::string SettingsText(const Settings& s) {
  std::string t = "  ip        = " + (s.ipText.empty() ? std::string("(not set)") : s.ipText) + "\n";
  for (int i = 0; i < 3; ++i) {
    const bool valid = s.consoleValue[i] >= 1 && s.consoleValue[i] <= 31;
    t += "  Trivane" + std::to_string(i + 1) + "  = " +
         Number(s.consoleSet[i], s.consoleValue[i], valid ? "" : "ignored: a console number is 1 to 31") + "\n";
  }
  t += "  Autofocus = " +
       (s.autofocusSet ? Number(true, s.autofocus, AutofocusMeaning(s.autofocus))
                       : std::string("(not set: chosen from the host's releases)")) +
       "\n";
  t += "  echo      = " + Number(s.echoSet, s.echo, s.echo == 1 ? "the echo window opens" : "no echo window") + "\n";
  return t;
}
