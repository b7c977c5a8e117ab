// The autofocus kind the driver settles on when it is loaded, and why: the
// host's installed releases and the "Autofocus" setting, read as the driver
// reads them. For pvtrivane-diagnose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HostRelease {
  std::string key;   // the release's key under the host's key
  std::string text;  // its "ReleaseVer", empty when it has none
  int number = -1;   // from "Release %d", -1 when the text does not match
};

// Read once by the diagnose's main thread, which owns it.
struct AutofocusChoice {
  bool hostKeyFound = false;
  std::vector<HostRelease> releases;
  bool settingSet = false;
  uint32_t setting = 0;
  uint32_t mode = 0;  // BLIND_AUTOFOCUS, MIDI_AUTOFOCUS or 0, as the driver decides

  // The kind in words ("blind autofocus"), and the reasons, one per line.
  std::string Kind() const;
  std::vector<std::string> Reasons() const;
};

// Reads the host's releases and the setting, and runs the driver's own
// decision.
AutofocusChoice ReadAutofocusChoice();
