#include "autofocus_send.h"

#include <cstring>

#include "../sessions/ports.h"
#include "../tvnLib/echo.h"
#include "pd_packet.h"

namespace {

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void SendMidiAutofocus(PORTS* session, const uint8_t* message, int32_t length) {
  PD_PACKET packet(PD_MIDI_AUTOFOCUS);
  packet.Count = static_cast<uint32_t>(length - 8);
  std::memcpy(packet.Items, message + 6, static_cast<size_t>(length - 6));
  session->SendPacket(packet, "autofocus sendto error (errno %d)");
}

void SendAFDMX(PORTS* session, uint32_t spot, int32_t startChannel, int32_t port, int32_t count,
               const ChannelLevel* records) {
  const char* const kError = "blind autofocus sendto error (errno %d)";
  PD_PACKET packet(PD_BLIND_AF_DMX);
  packet.Spot = spot;
  packet.Port = static_cast<uint32_t>(port);
  const int32_t base = startChannel > 0 ? startChannel : 0;
  int pending = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int k = i % kPairsPerPacket;
    const ChannelLevel& record = records[i];
    // The wire field is 16 bits: the channel's low 16 bits, whatever start
    // channel the host set (computed wide, so that no sum overflows).
    Put16(packet.Items + 4 * k, static_cast<uint16_t>(static_cast<int64_t>(record.Channel) + base - 1));
    Put16(packet.Items + 4 * k + 2, record.Level);
    pending = k + 1;
    if (k == kPairsPerPacket - 1) {
      packet.Count = kPairsPerPacket;
      session->SendPacket(packet, kError);
      pending = 0;
    }
    EchoPrint("SendAFDMX:  channel offset =%d, level=%d", record.Channel, record.Level);
  }
  if (pending > 0) {
    packet.Count = static_cast<uint32_t>(pending);
    session->SendPacket(packet, kError);
  }
}

void SendAFSelection(PORTS* session, int32_t count, const SelectionItem* items) {
  const char* const kError = "blind autofocus selection sendto error (errno %d)";
  PD_PACKET packet(PD_BLIND_AF_SELECTION);
  uint32_t statusMask = 0;
  int pending = 0;
  for (int32_t i = 0; i < count; ++i) {
    const SelectionItem& item = items[i];
    EchoPrint(" SelNum=%d,  Type= %s,  Spot=%d, NumParts=%d, Status= %d\n", i, item.Type, item.Spot,
              item.NumParts, item.Status);
    const int k = i % kSelectionsPerPacket;
    Put32(packet.Items + 8 * k, static_cast<uint32_t>(item.Spot));
    Put32(packet.Items + 8 * k + 4, static_cast<uint32_t>(item.Status));
    statusMask |= static_cast<uint32_t>(item.Status);
    packet.StatusMask = statusMask;
    pending = k + 1;
    if (k == kSelectionsPerPacket - 1) {
      packet.Count = kSelectionsPerPacket;
      session->SendPacket(packet, kError);
      pending = 0;
    }
  }
  if (pending > 0) {
    packet.Count = static_cast<uint32_t>(pending);
    session->SendPacket(packet, kError);
  }
}
