#include "settings.h"

#include <cstdio>

#include "../tvnLib/echo.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/lib_startup.h"
#include "../tvnLib/registry.h"
#include "driver_state.h"

const char kHostKey[] = "SOFTWARE\\Halvard Lighting Limited\\Previsa";

namespace {
const char* AutofocusName() { return (AutofocusMode & BLIND_AUTOFOCUS) != 0 ? "BLIND_AUTOFOCUS" : "MIDI_AUTOFOCUS"; }
}  // namespace

void ReadSettings() {
  char* ip = nullptr;
  RegReadString(OsRegRoot::CurrentUser, "ip", &ip, kDriverSettingsKey);
  // A missing value formats as a text that is no address.
  std::snprintf(InterfaceText, sizeof InterfaceText, "%s", ip != nullptr ? ip : "(none)");
  delete[] ip;
  InterfaceAddr = ParseDottedAddress(InterfaceText);
  for (int i = 0; i < 3; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Trivane%d", i + 1);
    uint32_t console = 0;
    if (RegReadDword(OsRegRoot::CurrentUser, name, &console, kDriverSettingsKey) == 0 && console >= 1 &&
        console <= 31)
      ConsoleNumbers[i] = console;
  }
}

void DetectAutofocusSupport() {
  OsRegKey hostKey = osRegOpen(OsRegRoot::LocalMachine, kHostKey, false);
  if (hostKey != nullptr) {
    char subkey[260];
    for (uint32_t index = 0; osRegEnumKey(hostKey, index, subkey, sizeof subkey); ++index) {
      EchoPrint(" Key = %s ", subkey);
      char path[260];
      std::snprintf(path, sizeof path, "%s\\%s", kHostKey, subkey);
      char* release = nullptr;
      if (RegReadString(OsRegRoot::LocalMachine, "ReleaseVer", &release, path) != 0) continue;
      int number = 0;
      if (std::sscanf(release, "Release %d", &number) == 1 && static_cast<unsigned>(number) <= 13u)
        AutofocusMode = MIDI_AUTOFOCUS;
      EchoPrint(" ver_name = %s - %d ", release, number);
      delete[] release;
    }
    osRegClose(hostKey);
  }
  if (AutofocusMode == 0) AutofocusMode = BLIND_AUTOFOCUS;
  EchoPrint("supported: %s", AutofocusName());
  uint32_t explicitMode = 0;
  if (RegReadDword(OsRegRoot::CurrentUser, "Autofocus", &explicitMode, kDriverSettingsKey) != 0) return;
  switch (explicitMode) {
    case 1: AutofocusMode = BLIND_AUTOFOCUS; break;
    case 2: AutofocusMode = MIDI_AUTOFOCUS; break;
    case 4: AutofocusMode = 0; break;
    default: return;
  }
  if (AutofocusMode != 0) {
    EchoPrint("Autofocus explicit set to %s", AutofocusName());
  } else {
    EchoPrint("Autofocus explicit switched off");
  }
}
