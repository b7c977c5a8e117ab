#include "bitfield.h"

#include <cstdlib>

#include "tvn_assert.h"

BITFIELD::BITFIELD(int32_t bits)
    : m_words((bits + 31) / 32),
      max_bits(m_words * 32),
      m_bits(static_cast<uint32_t*>(std::calloc(m_words > 0 ? m_words : 1, sizeof(uint32_t)))) {
  if (m_bits == nullptr) {
    m_words = 0;
    max_bits = 0;
  }
}

BITFIELD::~BITFIELD() { std::free(m_bits); }

void BITFIELD::SetBit(int32_t bit) {
  TVN_ASSERT(bit >= 0 && bit < max_bits, "bit<max_bits", "tvnLib/bitfield.cpp", 275);
  m_bits[bit / 32] |= 1u << (bit % 32);
}

int BITFIELD::TestBit(int32_t bit) const {
  TVN_ASSERT(bit >= 0 && bit < max_bits, "bit<max_bits", "tvnLib/bitfield.cpp", 287);
  return (m_bits[bit / 32] >> (bit % 32)) & 1u;
}
