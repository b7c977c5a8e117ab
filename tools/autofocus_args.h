// The test host's autofocus commands: parsing them from the command line
// and sending them through the driver's exports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver_api.h"

struct AutofocusRequest {
  int console = 0;  // 0: the first connected console
  std::vector<uint8_t> midi;
  bool fixChecksum = false;
  bool blind = false;
  int32_t spot = -1;
  int32_t startChannel = -1;
  int32_t port = 0;
  std::vector<ChannelLevel> levels;
  std::vector<SelectionItem> selection;
  std::vector<std::string> selectionTypes;  // storage of the Type texts

  bool any() const { return !midi.empty() || blind || !selection.empty(); }
};

// Takes one autofocus option (`arg`, its value read through `value`);
// false when `arg` is none of them (error empty) or its value is wrong
// (error says why).
bool ParseAutofocusArg(const std::string& arg, const std::function<std::string()>& value, AutofocusRequest* request,
                       std::string* error);

// Fills in byte Length-2 of a MIDI autofocus message.
void FixMidiChecksum(std::vector<uint8_t>& message);

// Sends what the request holds to `handle` and reports it on `out`; a kind
// that the driver's capabilities (GetDriverCaps) do not offer is not sent,
// and the report says why.
void SendAutofocus(const DriverApi& api, uint16_t handle, AutofocusRequest& request, uint32_t caps, FILE* out);

// Points the driver at a settings file (POSIX); false where the settings
// live in the registry.
bool SetRegistryFile(const std::string& path);
