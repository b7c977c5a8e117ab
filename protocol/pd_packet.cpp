#include "pd_packet.h"

#include <cstring>

NET_HEADER::NET_HEADER() : Magic{'T', 'V', 'N', '\0'}, ProtocolId{'P', 'R', 'V', '\0'}, TotalLength{} {
  TotalLength = sizeof(NET_HEADER);
}

PD_PACKET::PD_PACKET(uint32_t type)
    : Signature{}, MsgType{}, Receiving{}, Spot{}, Unused28{}, Port{}, Count{}, StatusMask{}, Items{} {
  Header.TotalLength = kPdPacketSize;
  Signature = kPdSignature;
  MsgType = type;
}

uint32_t ConsoleGroup(uint32_t console) {
  // (N << 24) + 0x000303EC read as bytes in memory: 236, 3, 3, N.
  const uint32_t value = (console << 24) + 0x000303ECu;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}
