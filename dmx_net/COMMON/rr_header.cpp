#include "rr_header.h"

#include <cstring>

const char* const PacketTypeNames[kPacketTypeNames] = {
    "SHUTUP",          "ACK",         "ALIVE",          "Invite",           "Dissmiss",
    "Join",            "Goddbye session", "Goodbye Network", "Session Create", "Slots",
    "Traffic Status",  "Master Present",  "Master Change",   "Master TakeOver", "DMX Info Request",
    "Open Switch",     "Idle",        "Init",           "Data",             "Owner Data",
    "Rootrequest",     "Realtime Data", "Channel Data", "DMX Data",         "DMX Data new",
    "ILLEGAL",
};

RrHeader::RrHeader() : Unread0{}, PayloadLength{}, Unread10{}, ControlWord{}, Unread16{} {
  ControlWord = 0x03FFC01Fu;
  le32 one;
  one = 1;
  std::memcpy(Unread16 + 8, one.b, sizeof one.b);
}

bool RrAcceptDmxDataNew(const uint8_t* datagram, int received) {
  if (received < kRrHeaderSize) return false;
  RrHeader header;
  std::memcpy(&header, datagram, sizeof header);
  return header.Version() == kRrVersion && received == header.PayloadLength + kRrHeaderSize &&
         header.PacketType() == DMX_DATA_NEW && !header.NoDecodeFlag();
}
