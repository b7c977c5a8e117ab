// Arbitrary datagrams through the receiver's acceptance rule and the
// decoder of a coder with all 64 universes. The decoder must never read or
// write out of bounds (the sanitizers watch), and a universe that the
// datagram's mask does not list must keep its levels and records.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dmx_net/COMMON/dmx_network_decode.h"
#include "dmx_net/COMMON/rr_header.h"

namespace {

// A universe's levels, record rings and ring positions, in both banks.
struct Snapshot {
  uint8_t levels[kBanks][kChannels];
  uint8_t rings[kBanks][2 * kRingSlotSize];
  int32_t next[kBanks];
  const Snapshot& Take(const UniverseSlot& slot) {
    for (int b = 0; b < kBanks; ++b) {
      std::memcpy(levels[b], slot.m_banks[b].m_levels, kChannels);
      std::memcpy(rings[b], slot.m_banks[b].m_ring.m_storage, 2 * kRingSlotSize);
      next[b] = slot.m_banks[b].m_ring.m_next;
    }
    return *this;
  }
};
Snapshot g_before[kUniverses], g_after;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(kRrMaxDatagram) || !RrAcceptDmxDataNew(data, static_cast<int>(size))) return 0;
  static DMX_DATA_CODER& coder = *[] {
    auto* c = new DMX_DATA_CODER;
    for (int u = 0; u < kUniverses; ++u) c->AddUniverse(u);
    return c;
  }();
  const uint8_t* payload = data + kRrHeaderSize;
  const int length = static_cast<int>(size) - kRrHeaderSize;
  uint64_t listed = 0;
  for (int g = 0; g < 8 && 4 + g < length; ++g) listed |= static_cast<uint64_t>(payload[4 + g]) << (8 * g);
  for (int u = 0; u < kUniverses; ++u)
    if ((listed >> u & 1) == 0) g_before[u].Take(*coder.Universe(u));
  coder.Decode(payload, length);
  for (int u = 0; u < kUniverses; ++u)
    if ((listed >> u & 1) == 0 && std::memcmp(&g_after.Take(*coder.Universe(u)), &g_before[u], sizeof g_after) != 0)
      std::abort();
  return 0;
}
