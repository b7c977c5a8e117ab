#include "driver_settings.h"

#include <cstdio>

#include "../driver/driver_state.h"
#include "../driver/settings.h"
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

namespace {

std::string Number(bool set, uint32_t value, const char* meaning) {
  if (!set) return "(not set)";
  char text[160];
  std::snprintf(text, sizeof text, "%u%s%s", static_cast<unsigned>(value), meaning[0] != '\0' ? "  -> " : "", meaning);
  return text;
}

const char* AutofocusMeaning(uint32_t v) {
  switch (v) {
    case 1: return "blind autofocus";
    case 2: return "MIDI autofocus";
    case 4: return "autofocus off";
    default: return "ignored: 1 blind, 2 MIDI, 4 off";
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
                       : std::string("(not set: chosen from the host's releases)")) + "\n";
  t += "  echo      = " + Number(s.echoSet, s.echo, s.echo == 1 ? "the echo window opens" : "no echo window") + "\n";
  return t;
}
