// A thread-safe allocator of fixed-size blocks.
//
// Blocks come from slabs (DYNAMIC_POOL_PART), each holding a fixed number of
// slots. A slot is a link word followed by the caller's block; free slots are
// chained through their link words and reused last-in, first-out. The pool
// grows by one part when every part is full and gives a part back when it is
// entirely free again, as long as another part remains. Heap calls happen
// only when a part is made or released. Any thread may allocate and free;
// the pool's lock (its RESOURCE base) guards the parts and their chains.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "flist.h"
#include "sync.h"

// Set when the process is ending with blocks still handed out (its threads
// were ended by the system): the parts then skip the in-use report, since
// their memory goes with the process.
extern std::atomic<bool> PoolProcessEnding;

class DYNAMIC_POOL;

class DYNAMIC_POOL_PART : public FNODE {
 public:
  // Links itself at the front of the pool's list and builds its chain. A
  // part whose memory cannot be had has no free slot.
  explicit DYNAMIC_POOL_PART(DYNAMIC_POOL* pool);
  // Reports and asserts when blocks are still in use.
  ~DYNAMIC_POOL_PART() override;

  void* Alloc();
  // 1 when `slot` lies in this part's memory (and is now free), else 0.
  int Free(uint8_t* slot);
  // Address of the n-th slot in use (address order, from 0), or null.
  uint8_t* NthUsed(int32_t n) const;

  uint8_t* m_freeHead = nullptr;
  int32_t m_freeCount = 0;
  int32_t m_capacity = 0;
  int32_t m_slotSize = 0;
  int32_t m_bytes = 0;
  uint8_t* m_memory = nullptr;
  uint8_t* m_end = nullptr;
};

class DYNAMIC_POOL : public FLIST, public RESOURCE {
 public:
  // The bytes before each block that hold the free chain's link.
  static constexpr int32_t kLinkSize = static_cast<int32_t>(sizeof(void*));

  // `name` is stored, not copied. Creates the first part.
  DYNAMIC_POOL(int32_t blockSize, int32_t blocksPerPart, const char* name);
  ~DYNAMIC_POOL() override;

  // A block of m_blockSize bytes, or null when no memory can be had.
  void* Alloc();
  // REQUIRES: p came from this pool's Alloc (null or a foreign pointer fails
  // the assertion "0" of dynamic_pool).
  void Free(void* p);

  int32_t PartCount() const { return m_count; }
  // Blocks handed out and not yet freed, over all parts.
  int32_t InUse();
  // Slot size of this pool's parts: block plus link word, rounded up so that
  // every block stays pointer-aligned.
  int32_t SlotSize() const;

  int32_t m_blockSize;
  int32_t m_blocksPerPart;
  const char* m_name;
};
