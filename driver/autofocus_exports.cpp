// The autofocus exports: MIDI autofocus messages, the patch (logged only)
// and blind autofocus (channel levels with their spot and start channel,
// and the selection). Every buffer the host passes is checked before it is
// read; a bad one is logged with the export's own text and nothing is sent.
#include <cstdio>
#include <cstring>

#include "../protocol/autofocus_send.h"
#include "../sessions/port_map.h"
#include "../tvnLib/echo.h"
#include "driver_state.h"
#include "host_memory.h"
#include "pvtrivane.h"

namespace {

bool Blind() { return (AutofocusMode & BLIND_AUTOFOCUS) != 0; }

// Frame and checksum of a MIDI autofocus message; shows the message box
// when they are wrong. REQUIRES: `length` readable bytes at `message`.
bool MidiMessageValid(const uint8_t* message, int32_t length) {
  if (message[0] != 0xF0 || message[1] != 0x00 || message[2] != 0x01 || message[3] != 0x09 ||
      message[length - 1] != 0xF7) {
    DriverMessageBox("SendMidi: wrong packet", "Error");
    return false;
  }
  uint32_t sum = 0;
  for (int32_t i = 4; i <= length - 3; ++i) sum += message[i];
  EchoPrint("SendMidi: sum==0x%x, sum==%d, ", sum, static_cast<int>(sum));
  EchoPrint("~sum==0x%x, ~sum mod 128==0x%x, Buffer[Length-2]==%x", ~sum, ~sum % 128, message[length - 2]);
  if (~sum % 128 != message[length - 2]) {
    DriverMessageBox("SendMidi: wrong packet", "Error");
    return false;
  }
  return true;
}

// Logs the message, at most 11 bytes a line.
void DumpMidi(const uint8_t* message, int32_t length) {
  EchoPrint("SendMidi: Length %d, code: ", length);
  char line[64] = "";
  for (int32_t i = 0; i < length; ++i) {
    if (std::strlen(line) > 50) {
      EchoPrint("%s", line);
      line[0] = '\0';
    }
    const size_t used = std::strlen(line);
    std::snprintf(line + used, sizeof line - used, "<%2.2x> ", message[i]);
  }
  EchoPrint("%s", line);
}

}  // namespace

PV_EXTERN_C void PV_CALL SendMIDI(uint16_t handle, uint32_t, int32_t length, const uint8_t* message) {
  if ((AutofocusMode & MIDI_AUTOFOCUS) == 0) return;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return;
  EchoPrint("\n----------------- SendMidi: --------------------");
  if (length < 9 || length > 250) {
    DriverMessageBox("SendMidi: wrong packet", "Error");
    return;
  }
  if (!HostRecordsReadable(message, length, 1)) {
    EchoPrint("SendMidi: Exception while accessing Midi Command buffer or sending midi autofocus");
    return;
  }
  if (!MidiMessageValid(message, length)) return;
  DumpMidi(message, length);
  uint8_t copy[250];
  std::memcpy(copy, message, static_cast<size_t>(length));
  SendMidiAutofocus(session, copy, length);
  EchoPrint("--------------------------------------------------------\n");
}

PV_EXTERN_C void PV_CALL StartPatch(void) {}

PV_EXTERN_C void PV_CALL SendPatch(uint16_t handle, const char* type, int32_t spot, int32_t numParts,
                                   const PatchPartInfo* parts) {
  if (!HostTextReadable(type)) {
    EchoPrint("SendPatch: Exception while accessing Patch Part Info");
    return;
  }
  EchoPrint("SendPatch: Hdl=%x, Type=%s, Spot=%d, NumParts=%d", handle, type, spot, numParts);
  if (!HostRecordsReadable(parts, numParts, sizeof(PatchPartInfo))) {
    EchoPrint("SendPatch: Exception while accessing Patch Part Info");
    return;
  }
  for (int32_t i = 0; i < numParts; ++i) {
    EchoPrint("  Part %d:  CtrlChan=%d, PortNum=%d, DMXChan=%d, NumChans=%d", i, parts[i].CtrlChan,
              parts[i].PortNum, parts[i].DMXChan, parts[i].NumChans);
  }
}

PV_EXTERN_C void PV_CALL FinishPatch(void) {}
PV_EXTERN_C void PV_CALL ClearPatch(void) {}

PV_EXTERN_C void PV_CALL StartBlindAF(void) {
  if (!Blind()) return;
  EchoPrint("StartBlindAF: ====Sending Blind AF DMX data======");
}

PV_EXTERN_C void PV_CALL SendSpot(uint16_t handle, int32_t port, int32_t spot) {
  if (!Blind()) return;
  BlindAFSpot = static_cast<uint32_t>(spot);
  EchoPrint("SendSpot: Hdl=%d, Port =%d Spot = %d", handle, port, spot);
}

PV_EXTERN_C void PV_CALL SendStartChannel(uint16_t handle, int32_t port, int32_t startChannel) {
  if (!Blind()) return;
  BlindAFStartChannel = startChannel;
  EchoPrint("SendStartChannel: Hdl=%d, Port =%d StartChannel = %d", handle, port, startChannel);
}

PV_EXTERN_C void PV_CALL SetBlindAFChannelData(uint16_t handle, int32_t portNum, int32_t numChannels,
                                               const ChannelLevel* levels) {
  if (!Blind()) return;
  EchoPrint("SetBlindAFChannelData: Hdl=%d, PortNum =%d, NumChannels =%d", handle, portNum, numChannels);
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return;
  if (!HostRecordsReadable(levels, numChannels, sizeof(ChannelLevel))) {
    EchoPrint("SetBlindAFChannelData: Exception ");
    return;
  }
  SendAFDMX(session, BlindAFSpot, BlindAFStartChannel, portNum, numChannels, levels);
}

PV_EXTERN_C void PV_CALL FinishBlindAF(void) {
  if (!Blind()) return;
  BlindAFSpot = 0xFFFFFFFFu;
  BlindAFStartChannel = -1;
  EchoPrint("FinishBlindAF: =================================");
}

PV_EXTERN_C void PV_CALL ClearBlindAF(void) {
  if (!Blind()) return;
  EchoPrint("==================== ClearBlindAF =============");
}

PV_EXTERN_C void PV_CALL SendBlindAFSelection(uint16_t handle, int32_t count, const SelectionItem* items) {
  if (!Blind()) return;
  EchoPrint("====Sending Blind AF SELECTION======\n");
  EchoPrint("Selected Items =%d\n", count);
  EchoPrint("SendSelection: Hdl=%x\n", handle);
  PORTS* session = FindPortMap(handle);
  if (session != nullptr) {
    bool readable = HostRecordsReadable(items, count, sizeof(SelectionItem));
    for (int32_t i = 0; readable && i < count; ++i) readable = HostTextReadable(items[i].Type);
    if (!readable) {
      EchoPrint("SendBlindAFSelection: Exception ");
      return;
    }
    SendAFSelection(session, count, items);
  }
  EchoPrint("============================\n");
}
