// What a console's DMX receivers did with the datagrams that reached them:
// received, decoded whole, and passed over by reason. Statistics for the
// tools and the tests.
//
// Owned by the console's session, so that the counts outlive every
// receiver that the console's acceptances and shutdowns replace, and stay
// readable (and only ever grow) for as long as the session lives. Written
// by the receiver's task thread, read by any thread.
#pragma once

#include <atomic>
#include <cstdint>

// Why a received datagram was not (wholly) applied to the levels.
enum class DmxDrop : int {
  OtherGroup,     // sent to another console's group
  Oversize,       // longer than the largest datagram, cut by the receive
  NotDmxDataNew,  // the header's version, type, flag or length rule failed
  Malformed,      // accepted, but its payload is broken (cut where it broke)
  Stopping,       // the receiver was asked to stop while the host held the levels
};
constexpr int kDmxDropReasons = 5;
extern const char* const DmxDropNames[kDmxDropReasons];

struct DMX_STATS {
  // received = decoded + every drop.
  std::atomic<uint32_t> m_received{0};
  std::atomic<uint32_t> m_decoded{0};
  std::atomic<uint32_t> m_dropped[kDmxDropReasons] = {};

  uint32_t Dropped(DmxDrop reason) const { return m_dropped[static_cast<int>(reason)].load(); }
  void Count(DmxDrop reason) { m_dropped[static_cast<int>(reason)].fetch_add(1, std::memory_order_relaxed); }
};
