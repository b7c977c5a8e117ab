#include "universe_store.h"

#include <cstring>
#include <new>

namespace {
constexpr int kRingBytesPerBank = kRingSlots * kRingSlotSize;
}  // namespace

UNIVERSE_STORE::UNIVERSE_STORE()
    : m_ringStorage(new (std::nothrow) uint8_t[kUniverses * kBanks * kRingBytesPerBank]) {
  for (int u = 0; u < kUniverses; ++u) {
    UniverseSlot& slot = m_slots[u];
    slot.m_universe = u;
    slot.m_enabled = 0;
    for (int b = 0; b < kBanks; ++b) {
      RecordRing& ring = slot.m_banks[b].m_ring;
      ring = RecordRing{};
      if (m_ringStorage != nullptr) {
        ring.m_storage = m_ringStorage + (u * kBanks + b) * kRingBytesPerBank;
        ring.m_slots = kRingSlots;
      }
    }
  }
  ClearLocked();
}

UNIVERSE_STORE::~UNIVERSE_STORE() { delete[] m_ringStorage; }

UniverseSlot* UNIVERSE_STORE::Slot(int index) {
  return index >= 0 && index < kUniverses ? &m_slots[index] : nullptr;
}

uint8_t* UNIVERSE_STORE::LevelsOf(int index) {
  UniverseSlot* slot = Slot(index);
  return slot != nullptr ? slot->m_banks[1].m_levels : nullptr;
}

bool UNIVERSE_STORE::Clear(int32_t waitMs) {
  m_clearPending.store(true, std::memory_order_release);
  if (!m_lock.TryLockFor(waitMs)) return false;
  ClearIfPending();
  m_lock.Unlock();
  return true;
}

void UNIVERSE_STORE::ClearIfPending() {
  if (m_clearPending.load(std::memory_order_acquire) &&
      m_clearPending.exchange(false, std::memory_order_acq_rel))
    ClearLocked();
}

void UNIVERSE_STORE::ClearLocked() {
  for (int u = 0; u < kUniverses; ++u) ClearSlot(u);
}

void UNIVERSE_STORE::ClearSlot(int index) {
  UniverseSlot* slot = Slot(index);
  if (slot == nullptr) return;
  for (LevelBank& bank : slot->m_banks) {
    std::memset(bank.m_levels, 0, sizeof bank.m_levels);
    if (bank.m_ring.m_storage != nullptr)
      std::memset(bank.m_ring.m_storage, 0, static_cast<size_t>(bank.m_ring.m_slots) * kRingSlotSize);
    bank.m_ring.m_next = 0;
  }
}
