// What a console's DMX receivers did with the datagrams that reached them:
// received, decoded whole, and passed over by reason; who sent them; which
// universes they carried and when each was last seen. Statistics for the
// tools, the tests and the echo's stream lines (stream_health.h).
//
// Owned by the console's session, so that the counts outlive every
// receiver that the console's acceptances and shutdowns replace, and stay
// readable (and only ever grow) for as long as the session lives. Written
// by the receiver's task thread (one receiver at a time: a session deletes
// the old one before it makes the next), read by any thread. Nothing here
// allocates: the senders are a fixed table.
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

// One address and port that sent DMX to the console's group. A slot is
// filled before the table's count includes it (release), so a reader that
// loads the count (acquire) sees the address and port of every slot below it.
struct DMX_SENDER {
  std::atomic<uint32_t> m_address{0};  // network order
  std::atomic<uint32_t> m_port{0};     // host order
  std::atomic<uint32_t> m_datagrams{0};
  std::atomic<uint32_t> m_lastMs{0};   // osTickCountMs() at its last datagram
};
constexpr int kDmxSenders = 8;
constexpr int kDmxUniverses = 64;

// Where the console's stream stands, for the echo's stop and return lines.
enum class DmxStream : uint32_t { NeverSeen, Live, Stopped };

struct DMX_STATS {
  // received = decoded + every drop.
  std::atomic<uint32_t> m_received{0};
  std::atomic<uint32_t> m_decoded{0};
  std::atomic<uint32_t> m_dropped[kDmxDropReasons] = {};

  // Datagrams sent to the console's own group, by sender in order of
  // appearance; those of senders beyond the table are counted together.
  DMX_SENDER m_senders[kDmxSenders];
  std::atomic<uint32_t> m_senderCount{0};
  std::atomic<uint32_t> m_otherSenders{0};
  // Datagrams that passed the acceptance rule carrying each universe, and
  // osTickCountMs() when the last one came.
  std::atomic<uint32_t> m_universe[kDmxUniverses] = {};
  std::atomic<uint32_t> m_universeLastMs[kDmxUniverses] = {};
  // The last datagram to the console's own group, and the stream's state.
  std::atomic<uint32_t> m_lastMs{0};
  std::atomic<DmxStream> m_stream{DmxStream::NeverSeen};

  uint32_t Dropped(DmxDrop reason) const { return m_dropped[static_cast<int>(reason)].load(); }
  void Count(DmxDrop reason) { m_dropped[static_cast<int>(reason)].fetch_add(1, std::memory_order_relaxed); }
};
