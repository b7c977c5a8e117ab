#include "dynamic_pool.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bitfield.h"
#include "echo.h"
#include "tvn_assert.h"

namespace {

uint8_t* LinkOf(uint8_t* slot) {
  uint8_t* next;
  std::memcpy(&next, slot, sizeof next);
  return next;
}

void SetLink(uint8_t* slot, uint8_t* next) { std::memcpy(slot, &next, sizeof next); }

}  // namespace

DYNAMIC_POOL_PART::DYNAMIC_POOL_PART(DYNAMIC_POOL* pool) {
  pool->Prepend(this);
  m_capacity = pool->m_blocksPerPart;
  m_slotSize = pool->SlotSize();
  m_bytes = m_capacity * m_slotSize;
  m_memory = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(m_bytes), 1));
  if (m_memory == nullptr) {
    m_capacity = 0;
    m_bytes = 0;
    return;
  }
  m_end = m_memory + m_bytes;
  m_freeCount = m_capacity;
  m_freeHead = m_memory;
  for (int32_t i = 0; i + 1 < m_capacity; ++i)
    SetLink(m_memory + i * m_slotSize, m_memory + (i + 1) * m_slotSize);
}

std::atomic<bool> PoolProcessEnding{false};

DYNAMIC_POOL_PART::~DYNAMIC_POOL_PART() {
  const int32_t inUse = m_capacity - m_freeCount;
  if (inUse >= 1 && !PoolProcessEnding) {
    EchoPrint("DYNAMIC_POOL NOT EMPTY !!!!");
    for (int32_t n = 0; n < inUse; ++n)
      EchoPrint("IN USE: %08" PRIXPTR, reinterpret_cast<uintptr_t>(NthUsed(n)));
    TVN_ASSERT_FAIL("0", "tvnLib/dynamic_pool.cpp", 113);
  }
  std::free(m_memory);
}

void* DYNAMIC_POOL_PART::Alloc() {
  if (m_freeHead == nullptr) return nullptr;
  uint8_t* slot = m_freeHead;
  m_freeHead = LinkOf(slot);
  SetLink(slot, nullptr);
  --m_freeCount;
  return slot + DYNAMIC_POOL::kLinkSize;
}

int DYNAMIC_POOL_PART::Free(uint8_t* slot) {
  // Compared as numbers: the slot may be another part's (or pool's) memory.
  const uintptr_t at = reinterpret_cast<uintptr_t>(slot);
  if (at < reinterpret_cast<uintptr_t>(m_memory) || at >= reinterpret_cast<uintptr_t>(m_end)) return 0;
  SetLink(slot, m_freeHead);
  m_freeHead = slot;
  ++m_freeCount;
  return 1;
}

uint8_t* DYNAMIC_POOL_PART::NthUsed(int32_t n) const {
  BITFIELD isFree(m_capacity);
  for (uint8_t* slot = m_freeHead; slot != nullptr; slot = LinkOf(slot))
    isFree.SetBit(static_cast<int32_t>((slot - m_memory) / m_slotSize));
  int32_t seen = 0;
  for (int32_t index = 0; index < m_capacity; ++index) {
    if (isFree.TestBit(index)) continue;
    if (seen == n) return m_memory + index * m_slotSize;
    ++seen;
  }
  return nullptr;
}

DYNAMIC_POOL::DYNAMIC_POOL(int32_t blockSize, int32_t blocksPerPart, const char* name)
    : m_blockSize(blockSize), m_blocksPerPart(blocksPerPart < 1 ? 1 : blocksPerPart), m_name(name) {
  new DYNAMIC_POOL_PART(this);
}

// The bases go in reverse order: the lock first, then FLIST, which destroys
// the parts from the last to the first.
DYNAMIC_POOL::~DYNAMIC_POOL() = default;

int32_t DYNAMIC_POOL::SlotSize() const {
  const int32_t raw = m_blockSize + kLinkSize;
  return (raw + kLinkSize - 1) / kLinkSize * kLinkSize;
}

void* DYNAMIC_POOL::Alloc() {
  RESOURCE_LOCK guard(this, nullptr);
  for (FNODE* node = m_last; node != nullptr; node = node->m_prev) {
    void* block = static_cast<DYNAMIC_POOL_PART*>(node)->Alloc();
    if (block != nullptr) return block;
  }
  DYNAMIC_POOL_PART* part = new (std::nothrow) DYNAMIC_POOL_PART(this);
  if (part == nullptr) return nullptr;
  void* block = part->Alloc();
  if (block == nullptr) delete part;  // its memory could not be had
  return block;
}

int32_t DYNAMIC_POOL::InUse() {
  RESOURCE_LOCK guard(this, nullptr);
  int32_t used = 0;
  for (FNODE* node = m_last; node != nullptr; node = node->m_prev) {
    const DYNAMIC_POOL_PART* part = static_cast<DYNAMIC_POOL_PART*>(node);
    used += part->m_capacity - part->m_freeCount;
  }
  return used;
}

void DYNAMIC_POOL::Free(void* p) {
  if (p == nullptr) TVN_ASSERT_FAIL("0", "tvnLib/dynamic_pool.cpp", 57);
  uint8_t* slot = static_cast<uint8_t*>(p) - kLinkSize;
  {
    RESOURCE_LOCK guard(this, nullptr);
    for (FNODE* node = m_last; node != nullptr; node = node->m_prev) {
      DYNAMIC_POOL_PART* part = static_cast<DYNAMIC_POOL_PART*>(node);
      if (part->Free(slot) == 0) continue;
      if (part->m_freeCount == part->m_capacity && m_count >= 2) delete part;
      return;
    }
  }
  TVN_ASSERT_FAIL("0", "tvnLib/dynamic_pool.cpp", 57);
}
