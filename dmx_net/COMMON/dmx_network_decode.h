// The decoder of DMX_DATA_NEW payloads into per-universe level banks.
//
// The coder lives inside the DMX receiver. Its lock (the RESOURCE base) is
// held while it changes the universe table or levels: by Decode on the
// receiver's task thread, by AddUniverse / RemoveUniverse on the thread
// that manages the session, and by the host between LockPortBuffer and
// UnlockPortBuffer, so the host never sees a half-applied packet.
#pragma once

#include <cstdint>

#include "../../tvnLib/sync.h"

constexpr int kUniverses = 64;
constexpr int kChannels = 512;
constexpr int kBanks = 4;
constexpr int kRingSlotSize = 256;

// The latest raw records of a bank, each slot starting with its length.
struct RecordRing {
  int32_t m_slots = 0;  // 0 when the storage could not be had
  int32_t m_next = 0;
  uint8_t* m_storage = nullptr;  // m_slots * 256 bytes, owned
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

class DMX_DATA_CODER : public RESOURCE {
 public:
  DMX_DATA_CODER();
  ~DMX_DATA_CODER() override;  // removes all universes

  // Creates universe `index` (0..63) with two ring slots per bank; 1 when
  // created, 0 when present already or out of range.
  int AddUniverse(int index);
  // 1 when universe `index` was removed, else 0.
  int RemoveUniverse(int index);

  // Applies one DMX_DATA_NEW payload of `length` bytes under the lock. Reads
  // nothing beyond `length` bytes and writes nothing outside a bank or ring
  // slot; after a malformed block the rest of the packet is dropped (levels
  // already applied stay).
  void Decode(const uint8_t* payload, int length);

  // The universe's slot, or null. REQUIRES: the caller holds the lock.
  UniverseSlot* Universe(int index) const;
  // The universe buffer (bank 1's levels) that the host reads, or null.
  // REQUIRES: the caller holds the lock.
  uint8_t* LevelsOf(int index) const;

 private:
  UniverseSlot* m_universes[kUniverses];
};
