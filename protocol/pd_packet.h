// The console control packet: 556 bytes on the wire whatever it carries,
// integers little-endian. Built in place on the sender's stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../tvnLib/le_int.h"

constexpr uint16_t ControlPort = 6007;
constexpr uint32_t kPdSignature = 5600;
constexpr int kPdPacketSize = 556;

enum PdMsgType : uint32_t {
  PD_HEARTBEAT = 1,
  PD_ACCEPT = 2,
  PD_MIDI_AUTOFOCUS = 3,
  PD_SHUTDOWN = 4,
  PD_BLIND_AF_DMX = 5,
  PD_BLIND_AF_SELECTION = 6,
};

// The generic 12-byte header: "TVN\0", "PRV\0", and its own size.
struct NET_HEADER {
  NET_HEADER();

  char Magic[4];
  char ProtocolId[4];
  le32 TotalLength;
};

struct PD_PACKET {
  // The header, TotalLength 556, Signature 5600, `type`; the body zeroed.
  explicit PD_PACKET(uint32_t type);

  NET_HEADER Header;
  le32 Signature;
  le32 MsgType;
  le32 Receiving;   // heartbeat: 1 while the session has a DMX receiver
  le32 Spot;        // blind autofocus DMX
  le32 Unused28;
  le32 Port;        // blind autofocus DMX
  le32 Count;       // MIDI, blind DMX, selection
  le32 StatusMask;  // selection
  uint8_t Items[512];
};

static_assert(sizeof(NET_HEADER) == 12, "NET_HEADER is 12 bytes");
static_assert(sizeof(PD_PACKET) == kPdPacketSize, "PD_PACKET is 556 bytes");
static_assert(offsetof(PD_PACKET, Signature) == 12 && offsetof(PD_PACKET, MsgType) == 16 &&
                  offsetof(PD_PACKET, Receiving) == 20 && offsetof(PD_PACKET, Spot) == 24 &&
                  offsetof(PD_PACKET, Port) == 32 && offsetof(PD_PACKET, Count) == 36 &&
                  offsetof(PD_PACKET, StatusMask) == 40 && offsetof(PD_PACKET, Items) == 44,
              "PD_PACKET field offsets");

// The session group of console N: 236.3.3.N (network order).
uint32_t ConsoleGroup(uint32_t console);
