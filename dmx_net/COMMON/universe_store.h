// The level banks of one console's 64 universes and the lock that guards
// them.
//
// Owned by the console's session for the session's whole life, so that every
// address the host was ever given stays valid until Disconnect, whatever
// receivers come and go; a decoder without a session owns one of its own.
// The host holds the lock between LockPortBuffer and UnlockPortBuffer; the
// receiver's task takes it around each decoded packet; the session's state
// receiver takes it (for a bounded time only) to clear the banks when a
// receiver ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "../../tvnLib/sync.h"

constexpr int kUniverses = 64;
constexpr int kChannels = 512;
constexpr int kBanks = 4;
constexpr int kRingSlotSize = 256;
constexpr int kRingSlots = 2;

// The latest raw records of a bank, each slot starting with its length.
struct RecordRing {
  int32_t m_slots = 0;  // 0 when the storage could not be had
  int32_t m_next = 0;
  uint8_t* m_storage = nullptr;  // m_slots * 256 bytes
};

struct LevelBank {
  uint8_t m_levels[kChannels];  // channel 0 first
  RecordRing m_ring;
};

struct UniverseSlot {
  int32_t m_universe;
  LevelBank m_banks[kBanks];  // Decode writes banks 1 and 2
  int32_t m_enabled;          // 0: Decode skips the universe's block
};

class UNIVERSE_STORE {
 public:
  UNIVERSE_STORE();  // every level 0, two ring slots per bank
  ~UNIVERSE_STORE();
  UNIVERSE_STORE(const UNIVERSE_STORE&) = delete;
  UNIVERSE_STORE& operator=(const UNIVERSE_STORE&) = delete;

  RESOURCE& Guard() { return m_lock; }
  // The slot of universe 0..63, else null. The slot's memory never moves.
  UniverseSlot* Slot(int index);
  // Bank 1's levels of universe 0..63 (what the host reads), else null.
  uint8_t* LevelsOf(int index);

  // Zeroes every level and raw record: at once when the lock is had within
  // `waitMs`, else by the next holder's ClearIfPending. True when done now.
  bool Clear(int32_t waitMs);
  // Carries out a clear that could not be done at once.
  // REQUIRES: the caller holds Guard().
  void ClearIfPending();
  // Zeroes one universe's levels and raw records. REQUIRES: as above.
  void ClearSlot(int index);

 private:
  void ClearLocked();

  RESOURCE m_lock;
  std::atomic<bool> m_clearPending{false};
  uint8_t* m_ringStorage;  // all rings in one block, or null
  UniverseSlot m_slots[kUniverses];
};
