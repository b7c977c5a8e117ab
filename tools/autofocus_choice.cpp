#include "autofocus_choice.h"

#include <cstdio>

#include "../driver/driver_state.h"
#include "../driver/settings.h"
#include "../tvnLib/lib_startup.h"
#include "../tvnLib/os.h"
#include "../tvnLib/registry.h"

AutofocusChoice ReadAutofocusChoice() {
  AutofocusChoice c;
  const OsRegKey host = osRegOpen(OsRegRoot::LocalMachine, kHostKey, false);
  c.hostKeyFound = host != nullptr;
  if (host != nullptr) {
    char name[260];
    for (uint32_t index = 0; osRegEnumKey(host, index, name, sizeof name); ++index) {
      HostRelease r;
      r.key = name;
      char* text = nullptr;
      if (RegReadString(OsRegRoot::LocalMachine, "ReleaseVer", &text, (std::string(kHostKey) + "\\" + name).c_str()) ==
              0 &&
          text != nullptr) {
        r.text = text;
        if (std::sscanf(text, "Release %d", &r.number) != 1) r.number = -1;
      }
      delete[] text;
      c.releases.push_back(r);
    }
    osRegClose(host);
  }
  c.settingSet = RegReadDword(OsRegRoot::CurrentUser, "Autofocus", &c.setting, kDriverSettingsKey) == 0;
  AutofocusMode = 0;
  DetectAutofocusSupport();
  c.mode = AutofocusMode;
  return c;
}

std::string AutofocusChoice::Kind() const {
  return mode == BLIND_AUTOFOCUS ? "blind autofocus" : mode == MIDI_AUTOFOCUS ? "MIDI autofocus" : "no autofocus";
}

std::vector<std::string> AutofocusChoice::Reasons() const {
  std::vector<std::string> why;
  if (!hostKeyFound) why.push_back("no host releases are installed (the host's key is missing): blind autofocus");
  bool old = false;
  for (const HostRelease& r : releases) {
    const bool midi = r.number >= 0 && r.number <= 13;
    old = old || midi;
    why.push_back("host release " + r.key + ": " +
                  (r.text.empty() ? std::string("no ReleaseVer, not counted")
                                  : "\"" + r.text + "\"" +
                                        (r.number < 0 ? ", not of the form \"Release N\", not counted"
                                         : midi       ? ", 13 or older: MIDI autofocus"
                                                      : ", newer than 13")));
  }
  if (hostKeyFound)
    why.push_back(old ? "an installed release of 13 or older selects MIDI autofocus"
                      : "no installed release is 13 or older: blind autofocus");
  if (!settingSet) {
    why.push_back("\"Autofocus\" is not set, so the releases decide");
  } else if (setting == 1 || setting == 2 || setting == 4) {
    why.push_back("\"Autofocus\" = " + std::to_string(setting) + " overrides the releases: " + Kind());
  } else {
    why.push_back("\"Autofocus\" = " + std::to_string(setting) + " is ignored (1 blind, 2 MIDI, 4 off)");
  }
  why.push_back("the driver decides when it is loaded; the host must be restarted for a change to count");
  return why;
}
