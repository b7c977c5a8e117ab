#include "ipaddress.h"

#include <cctype>
#include <cstdio>
#include <cstring>

char AddressTextBuffer[kAddressTextSize];

uint32_t MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

uint8_t AddressOctet(uint32_t address, int i) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return bytes[i & 3];
}

uint16_t HostToNet16(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  uint16_t net;
  std::memcpy(&net, bytes, sizeof net);
  return net;
}

uint16_t NetToHost16(uint16_t value) {
  uint8_t bytes[2];
  std::memcpy(bytes, &value, sizeof bytes);
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

IPADDRESS::IPADDRESS(uint16_t hostPort, uint32_t addr)
    : family(2), port(HostToNet16(hostPort)), address(addr), zero{} {}

uint16_t IPADDRESS::HostPort() const { return NetToHost16(port); }

namespace {

// One part of a dotted address; false when it is not a number.
bool ParsePart(const char*& p, uint64_t* value) {
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  uint64_t v = 0;
  bool any = base != 16;  // "0" alone is a valid octal zero
  for (;; ++p) {
    const int c = static_cast<unsigned char>(*p);
    int digit;
    if (std::isdigit(c)) {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      digit = std::tolower(c) - 'a' + 10;
    } else {
      break;
    }
    if (digit >= base) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (v > 0xFFFFFFFFull) return false;
    any = true;
  }
  *value = v;
  return any;
}

}  // namespace

uint32_t ParseDottedAddress(const char* text) {
  const uint32_t kNone = 0xFFFFFFFFu;
  if (text == nullptr) return kNone;
  const char* p = text;
  uint64_t parts[4];
  int count = 0;
  for (;;) {
    if (count == 4 || !ParsePart(p, &parts[count])) return kNone;
    ++count;
    if (*p != '.') break;
    ++p;
  }
  if (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) return kNone;
  uint64_t value;
  switch (count) {
    case 1:
      value = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return kNone;
      value = parts[0] << 24 | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return kNone;
      value = parts[0] << 24 | parts[1] << 16 | parts[2];
      break;
    default:
      for (int i = 0; i < 4; ++i)
        if (parts[i] > 0xFF) return kNone;
      value = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
      break;
  }
  return MakeAddress(static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
}

const char* AddressText(uint32_t address, char* buffer) {
  std::snprintf(buffer, kAddressTextSize, "%u.%u.%u.%u", AddressOctet(address, 0),
                AddressOctet(address, 1), AddressOctet(address, 2), AddressOctet(address, 3));
  return buffer;
}

uint32_t ClassfulBroadcast(uint32_t address) {
  const uint8_t a = AddressOctet(address, 0);
  const uint8_t b = AddressOctet(address, 1);
  const uint8_t c = AddressOctet(address, 2);
  if (a < 128) return MakeAddress(a, 255, 255, 255);
  if (a < 192) return MakeAddress(a, b, 255, 255);
  if (a < 224) return MakeAddress(a, b, c, 255);
  return address;
}
