// A fixed set of bits, used by the pool's in-use report. Owned by its
// creator; not shared between threads.
#pragma once

#include <cstdint>

class BITFIELD {
 public:
  explicit BITFIELD(int32_t bits);
  ~BITFIELD();
  BITFIELD(const BITFIELD&) = delete;
  BITFIELD& operator=(const BITFIELD&) = delete;

  // REQUIRES: bit < max_bits (else the assertion "bit<max_bits" fails).
  void SetBit(int32_t bit);
  int TestBit(int32_t bit) const;

  int32_t m_words;   // (bits + 31) / 32
  int32_t max_bits;  // m_words * 32
  uint32_t* m_bits;  // zero-filled at construction
};
