#include "autofocus_args.h"

#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

bool Number(const std::string& text, long* out) {
  char* end = nullptr;
  *out = std::strtol(text.c_str(), &end, 0);
  return !text.empty() && end != nullptr && *end == '\0';
}

}  // namespace

void FixMidiChecksum(std::vector<uint8_t>& message) {
  if (message.size() < 9) return;
  uint32_t sum = 0;
  for (size_t i = 4; i + 2 < message.size(); ++i) sum += message[i];
  message[message.size() - 2] = static_cast<uint8_t>(~sum % 128);
}

bool ParseAutofocusArg(const std::string& arg, const std::function<std::string()>& value, AutofocusRequest* request,
                       std::string* error) {
  long n = 0;
  if (arg == "--af-console") {
    if (!Number(value(), &n)) return *error = "--af-console needs a console number", false;
    request->console = static_cast<int>(n);
  } else if (arg == "--midi") {
    for (const std::string& byte : Split(value(), ' ')) {
      if (byte.empty()) continue;
      if (!Number("0x" + byte, &n) || n < 0 || n > 255) return *error = "--midi takes hex bytes", false;
      request->midi.push_back(static_cast<uint8_t>(n));
    }
  } else if (arg == "--fix-checksum") {
    request->fixChecksum = true;
  } else if (arg == "--port") {
    if (!Number(value(), &n)) return *error = "--port needs a number", false;
    request->port = static_cast<int32_t>(n);
  } else if (arg == "--blind") {
    const std::vector<std::string> parts = Split(value(), ':');
    long spot = 0, start = 0;
    if (parts.size() != 3 || !Number(parts[0], &spot) || !Number(parts[1], &start))
      return *error = "--blind takes SPOT:START:CH=LVL,...", false;
    request->blind = true;
    request->spot = static_cast<int32_t>(spot);
    request->startChannel = static_cast<int32_t>(start);
    for (const std::string& pair : Split(parts[2], ',')) {
      const std::vector<std::string> cl = Split(pair, '=');
      long channel = 0, level = 0;
      if (cl.size() != 2 || !Number(cl[0], &channel) || !Number(cl[1], &level))
        return *error = "--blind pairs are CH=LVL", false;
      request->levels.push_back(ChannelLevel{static_cast<uint16_t>(channel), static_cast<uint8_t>(level), 0});
    }
  } else if (arg == "--selection") {
    const std::vector<std::string> items = Split(value(), ',');
    request->selectionTypes.reserve(items.size());
    for (const std::string& item : items) {
      const std::vector<std::string> fields = Split(item, ':');
      long spot = 0, status = 0;
      if (fields.size() < 2 || !Number(fields[0], &spot) || !Number(fields[1], &status))
        return *error = "--selection takes SPOT:STATUS[:TYPE],...", false;
      request->selectionTypes.push_back(fields.size() > 2 ? fields[2] : "Fixture");
      request->selection.push_back(SelectionItem{nullptr, static_cast<int32_t>(spot), 1, static_cast<int32_t>(status)});
    }
  } else {
    return false;
  }
  return true;
}

namespace {

// Capability bits of GetDriverCaps.
constexpr uint32_t kCapsMidi = 0x8, kCapsBlind = 0x200;

bool Offered(uint32_t caps, uint32_t bit, const char* what, FILE* out) {
  if ((caps & bit) != 0) return true;
  const char* mode = (caps & kCapsBlind) != 0  ? "blind autofocus"
                     : (caps & kCapsMidi) != 0 ? "MIDI autofocus"
                                               : "no autofocus";
  std::fprintf(out,
               "%s NOT sent: the driver is set for %s (GetDriverCaps 0x%x). It decides when it is loaded, from "
               "the host's releases and the \"Autofocus\" setting (1 blind, 2 MIDI); change the setting "
               "(pvtrivane-config --autofocus) and start the host again.\n",
               what, mode, caps);
  return false;
}

}  // namespace

void SendAutofocus(const DriverApi& api, uint16_t handle, AutofocusRequest& request, uint32_t caps, FILE* out) {
  if (!request.midi.empty() && Offered(caps, kCapsMidi, "MIDI autofocus", out)) {
    if (request.fixChecksum) FixMidiChecksum(request.midi);
    std::fprintf(out, "SendMIDI(%u, %zu bytes)\n", handle, request.midi.size());
    api.SendMIDI(handle, 0, static_cast<int32_t>(request.midi.size()), request.midi.data());
  }
  if (request.blind && Offered(caps, kCapsBlind, "blind autofocus levels", out)) {
    std::fprintf(out, "blind autofocus: spot %d, start channel %d, %zu level(s) on port %d\n", request.spot,
                 request.startChannel, request.levels.size(), request.port);
    api.StartBlindAF();
    api.SendSpot(handle, request.port, request.spot);
    api.SendStartChannel(handle, request.port, request.startChannel);
    api.SetBlindAFChannelData(handle, request.port, static_cast<int32_t>(request.levels.size()), request.levels.data());
    api.FinishBlindAF();
  }
  if (!request.selection.empty() && Offered(caps, kCapsBlind, "blind autofocus selection", out)) {
    for (size_t i = 0; i < request.selection.size(); ++i) request.selection[i].Type = request.selectionTypes[i].c_str();
    std::fprintf(out, "blind autofocus selection: %zu item(s)\n", request.selection.size());
    api.SendBlindAFSelection(handle, static_cast<int32_t>(request.selection.size()), request.selection.data());
  }
}

bool SetRegistryFile(const std::string& path) {
  if (!osRegistryIsFile()) return false;
  osSetEnvironment("PVTRIVANE_REGISTRY", path.c_str());
  return true;
}
