// Little-endian integers of a wire record, stored as bytes so that a record
// has the same layout on every target and never needs alignment.
#pragma once

#include <cstdint>

struct le16 {
  uint8_t b[2];
  operator uint16_t() const { return static_cast<uint16_t>(b[0] | b[1] << 8); }
  le16& operator=(uint16_t v) {
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    return *this;
  }
};

struct le32 {
  uint8_t b[4];
  operator uint32_t() const {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  le32& operator=(uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
};

static_assert(sizeof(le16) == 2 && sizeof(le32) == 4, "wire integers have no padding");
