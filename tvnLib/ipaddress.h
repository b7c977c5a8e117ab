// IPv4 addresses: the 16-byte socket address record, the dotted text of an
// address, the dotted-address parser and the classful broadcast address.
// All addresses are 32-bit values in network byte order.
#pragma once

#include <cstdint>

struct IPADDRESS {
  IPADDRESS() : IPADDRESS(0, 0) {}
  // `hostPort` in host order, `address` already in network order.
  IPADDRESS(uint16_t hostPort, uint32_t address);

  uint16_t HostPort() const;

  uint16_t family;   // always 2 (AF_INET)
  uint16_t port;     // network order
  uint32_t address;  // network order
  uint8_t zero[8];
};
static_assert(sizeof(IPADDRESS) == 16, "IPADDRESS is the 16-byte IPv4 socket address");

// The network-order address of a.b.c.d.
uint32_t MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// Octet i (0 is the first of the dotted text) of a network-order address.
uint8_t AddressOctet(uint32_t address, int i);

// Byte order of 16-bit values on the wire.
uint16_t NetToHost16(uint16_t value);
uint16_t HostToNet16(uint16_t value);

// The standard dotted-address parser (inet_addr): one to four parts, each
// decimal, octal (leading 0) or hexadecimal (0x); the last part fills the
// remaining bytes. 255.255.255.255 (INADDR_NONE) when the text does not parse.
uint32_t ParseDottedAddress(const char* text);

// Writes the dotted text of `address` into `buffer` (room for 20 characters)
// and returns `buffer`.
constexpr int kAddressTextSize = 20;
const char* AddressText(uint32_t address, char* buffer);

// A process-wide buffer for callers on one thread. A text in it is valid
// only until the next call from any thread; code that may run on several
// threads at once passes storage of its own.
extern char AddressTextBuffer[kAddressTextSize];

// The directed broadcast address of the address's classful network (class D
// and E addresses are returned unchanged).
uint32_t ClassfulBroadcast(uint32_t address);
