// The header of a datagram of the consoles' DMX network, and the rule by
// which the DMX receiver accepts a datagram for decoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../../tvnLib/le_int.h"

constexpr int kRrHeaderSize = 48;
constexpr int kRrMaxDatagram = 1468;  // header and payload
constexpr int kRrMaxPayload = kRrMaxDatagram - kRrHeaderSize;
constexpr uint32_t kRrVersion = 7;
constexpr uint32_t DMX_DATA_NEW = 24;

struct RrHeader {
  // Zeroed; PacketType 31, the 12-bit field all ones, offset 24 set to 1:
  // the values of a freshly made buffer (the driver never sends one).
  RrHeader();

  uint32_t PacketType() const { return ControlWord & 0x1Fu; }
  bool NoDecodeFlag() const { return (ControlWord & 0x20u) != 0; }
  uint32_t Version() const { return ControlWord >> 26; }

  uint8_t Unread0[8];
  le16 PayloadLength;  // bytes after the 48-byte header
  uint8_t Unread10[2];
  le32 ControlWord;    // 0-4 type, 5 flag, 14-25 a field, 26-31 version
  uint8_t Unread16[32];
};
static_assert(sizeof(RrHeader) == 48, "RrHeader is 48 bytes");
static_assert(offsetof(RrHeader, PayloadLength) == 8, "PayloadLength at 8");
static_assert(offsetof(RrHeader, ControlWord) == 12, "ControlWord at 12");

// True when a received datagram of `received` bytes is a DMX_DATA_NEW
// packet to decode: version 7, length = PayloadLength + 48, type 24, flag
// bit 5 clear. Reads nothing beyond `received` bytes.
bool RrAcceptDmxDataNew(const uint8_t* datagram, int received);

// The names of the packet types, index = type code (0..25).
constexpr int kPacketTypeNames = 26;
extern const char* const PacketTypeNames[kPacketTypeNames];
