// The decoder of DMX_DATA_NEW payloads into per-universe level banks.
//
// The coder lives inside the DMX receiver and writes into a UNIVERSE_STORE:
// the session's (which outlives every receiver) or one of its own. Its own
// lock (the RESOURCE base) guards the universe table: AddUniverse and
// RemoveUniverse on the thread that manages the session, Decode on the
// receiver's task thread. Decode also holds the store's lock, which the host
// holds between LockPortBuffer and UnlockPortBuffer, so the host never sees
// a half-applied packet. Lock order: the store's lock, then the coder's.
#pragma once

#include <cstdint>

#include "../../tvnLib/sync.h"
#include "universe_store.h"

class DMX_DATA_CODER : public RESOURCE {
 public:
  // Writing into `store`, which must outlive the coder and which the coder
  // never clears; with null (or none) into a store of its own (levels 0).
  DMX_DATA_CODER();
  explicit DMX_DATA_CODER(UNIVERSE_STORE* store);
  ~DMX_DATA_CODER() override;  // removes all universes
  DMX_DATA_CODER(const DMX_DATA_CODER&) = delete;
  DMX_DATA_CODER& operator=(const DMX_DATA_CODER&) = delete;

  // Enables universe `index` (0..63), two ring slots per bank; 1 when
  // enabled, 0 when present already or out of range.
  int AddUniverse(int index);
  // 1 when universe `index` was removed, else 0. With a store of its own
  // the universe's levels go back to 0.
  int RemoveUniverse(int index);

  // Applies one DMX_DATA_NEW payload of `length` bytes under both locks. Reads
  // nothing beyond `length` bytes and writes nothing outside a bank or ring
  // slot; after a malformed block the rest of the packet is dropped (levels
  // already applied stay). False when the payload was too short or a block
  // it read was malformed.
  bool Decode(const uint8_t* payload, int length);

  // The universe's slot, or null. REQUIRES: the caller holds the lock.
  UniverseSlot* Universe(int index) const;
  // The universe buffer (bank 1's levels) that the host reads, or null.
  // REQUIRES: the caller holds the lock.
  uint8_t* LevelsOf(int index) const;

  UNIVERSE_STORE& Store() const { return *m_store; }

 private:
  UNIVERSE_STORE* m_ownStore;  // null when writing into a session's store
  UNIVERSE_STORE* m_store;
  UniverseSlot* m_universes[kUniverses];
};
