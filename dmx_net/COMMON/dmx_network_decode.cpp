#include "dmx_network_decode.h"

#include <array>
#include <cstring>

#include "../../tvnLib/echo.h"

namespace {

// How many channels each group mask names, from a table: a population
// count is a library call where the target has no instruction for it, and
// it stands on the path from one mask byte to the next.
constexpr std::array<uint8_t, 256> CountNamed() {
  std::array<uint8_t, 256> counts{};
  for (unsigned m = 1; m < 256; ++m) counts[m] = static_cast<uint8_t>(counts[m >> 1] + (m & 1));
  return counts;
}
constexpr std::array<uint8_t, 256> kChannelsNamed = CountNamed();

// Reads a universe block's records one by one. Every read is checked
// against the block's end, which lies within the payload.
class BlockReader {
 public:
  BlockReader(const uint8_t* at, const uint8_t* end) : p(at), m_end(end) {}

  // Applies the records; false when the block is malformed.
  bool Apply(UniverseSlot& slot) {
    while (p < m_end) {
      const uint8_t type = *p++;
      switch (type) {
        case 0:
          return p == m_end;  // the end mark must be the block's last byte
        case 1:
        case 2:
          if (!Levels(slot.m_banks[type].m_levels)) return false;
          break;
        case 3:
        case 4:
          if (!Raw(slot.m_banks[type - 2].m_ring)) return false;
          break;
        default:
          EchoPrint("ILLEGAL DMX DATA TYPE !");
          return false;
      }
    }
    return p == m_end;
  }

 private:
  size_t Left() const { return static_cast<size_t>(m_end - p); }

  // The three-level bit tree: M0 names blocks of 64 channels, each M1 groups
  // of 8, each M2 channels; the named levels follow in ascending order.
  bool Levels(uint8_t* levels) {
    if (Left() < 1) return false;
    for (unsigned m0 = *p++; m0 != 0; m0 &= m0 - 1) {
      uint8_t* block = levels + 64 * __builtin_ctz(m0);
      if (Left() < 1) return false;
      const unsigned m1 = *p++;
      if (m1 == 0xFF && FullBlock(block)) continue;
      for (unsigned groups = m1; groups != 0; groups &= groups - 1) {
        uint8_t* group = block + 8 * __builtin_ctz(groups);
        if (Left() < 1) return false;
        const unsigned m2 = *p++;
        if (m2 == 0xFF) {
          if (Left() < 8) return false;
          std::memcpy(group, p, 8);
          p += 8;
          continue;
        }
        if (Left() < kChannelsNamed[m2]) return false;
        for (unsigned channels = m2; channels != 0; channels &= channels - 1)
          group[__builtin_ctz(channels)] = *p++;
      }
    }
    return true;
  }

  // All 64 channels of a block in one go, when all eight groups are full.
  bool FullBlock(uint8_t* block) {
    if (Left() < 72) return false;
    for (int j = 0; j < 8; ++j)
      if (p[9 * j] != 0xFF) return false;
    for (int j = 0; j < 8; ++j) std::memcpy(block + 8 * j, p + 9 * j + 1, 8);
    p += 72;
    return true;
  }

  // A length byte N and N bytes, kept in the next slot of the ring.
  bool Raw(RecordRing& ring) {
    if (Left() < 1) return false;
    const uint8_t n = *p++;
    if (Left() < n) return false;
    if (ring.m_storage != nullptr && ring.m_slots > 0) {
      uint8_t* slot = ring.m_storage + ring.m_next * kRingSlotSize;
      slot[0] = n;
      std::memcpy(slot + 1, p, n);
      ring.m_next = (ring.m_next + 1) % ring.m_slots;
    }
    p += n;
    return true;
  }

  const uint8_t* p;
  const uint8_t* const m_end;
};

}  // namespace

DMX_DATA_CODER::DMX_DATA_CODER() : DMX_DATA_CODER(nullptr) {}

DMX_DATA_CODER::DMX_DATA_CODER(UNIVERSE_STORE* store)
    : m_ownStore(store == nullptr ? new UNIVERSE_STORE : nullptr),
      m_store(store == nullptr ? m_ownStore : store),
      m_universes{} {}

DMX_DATA_CODER::~DMX_DATA_CODER() {
  for (int i = 0; i < kUniverses; ++i) RemoveUniverse(i);
  delete m_ownStore;
}

int DMX_DATA_CODER::AddUniverse(int index) {
  RESOURCE_LOCK lock(this, nullptr);
  UniverseSlot* slot = m_store->Slot(index);
  if (slot == nullptr || m_universes[index] != nullptr) return 0;
  slot->m_enabled = 1;
  m_universes[index] = slot;
  return 1;
}

int DMX_DATA_CODER::RemoveUniverse(int index) {
  // Only a coder's own store is cleared here; a session clears its store
  // itself, with a bounded wait for the host.
  RESOURCE_LOCK levels(m_ownStore != nullptr ? &m_ownStore->Guard() : nullptr, nullptr);
  RESOURCE_LOCK lock(this, nullptr);
  if (index < 0 || index >= kUniverses || m_universes[index] == nullptr) return 0;
  m_universes[index] = nullptr;
  if (m_ownStore != nullptr) m_ownStore->ClearSlot(index);
  return 1;
}

UniverseSlot* DMX_DATA_CODER::Universe(int index) const {
  return index >= 0 && index < kUniverses ? m_universes[index] : nullptr;
}

uint8_t* DMX_DATA_CODER::LevelsOf(int index) const {
  UniverseSlot* slot = Universe(index);
  return slot != nullptr ? slot->m_banks[1].m_levels : nullptr;
}

bool DMX_DATA_CODER::Decode(const uint8_t* payload, int length) {
  RESOURCE_LOCK levels(&m_store->Guard(), nullptr);
  m_store->ClearIfPending();
  RESOURCE_LOCK lock(this, nullptr);
  if (payload == nullptr || length < 12) return false;
  const uint8_t* const end = payload + length;
  const uint8_t* p = payload + 12;
  for (int g = 0; g < 8; ++g) {
    const unsigned mask = payload[4 + g];
    for (unsigned bits = mask; bits != 0; bits &= bits - 1) {
      const int universe = 8 * g + __builtin_ctz(bits);
      if (end - p < 2) return false;
      const size_t blockLength = static_cast<size_t>(p[0] | p[1] << 8);
      p += 2;
      if (blockLength > static_cast<size_t>(end - p)) return false;
      const uint8_t* const blockEnd = p + blockLength;
      UniverseSlot* slot = m_universes[universe];
      if (slot != nullptr && slot->m_enabled != 0) {
        BlockReader reader(p, blockEnd);
        if (!reader.Apply(*slot)) return false;
      }
      p = blockEnd;
    }
  }
  return true;
}
