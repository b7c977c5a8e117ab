// The DMX receiver of one console: a task that joins the console's DMX
// group 236.3.2.(32 + N) on port 9138 and decodes every DMX_DATA_NEW
// datagram through its DMX_DATA_CODER into the session's level banks, where
// the host reads the levels.
//
// Owned by the console's session (PORTS): created by StartSniffer, deleted
// by StopSniffer. Join, Leave, Stop, the constructor and the destructor run
// on the thread that manages the session; Init, Run, Exit and ReceiveOne on
// the task's own thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "../dmx_net/COMMON/dmx_network_decode.h"
#include "../dmx_net/COMMON/rr_packet.h"
#include "../tvnLib/ctask.h"
#include "../tvnLib/udpsocket.h"

constexpr uint16_t DmxPort = 9138;
constexpr int kReceiveBufferBytes = 1 << 20;

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

// The DMX group of console N: 236.3.2.(32 + N).
uint32_t DmxGroup(int32_t console);

class DMX_SNIFFER : public CTASK, public DMX_DATA_CODER {
 public:
  // Decodes into `store` (the session's banks), or into banks of its own.
  explicit DMX_SNIFFER(UNIVERSE_STORE* store = nullptr);
  ~DMX_SNIFFER() override;

  // Starts receiving for console 1..31 on `interfaceAddr` (not 0); the same
  // values again change nothing, new ones restart the task.
  void Join(uint32_t interfaceAddr, int32_t console);
  // Stops receiving and forgets interface and console.
  void Leave();
  // One receive of up to `timeoutMs` (-1: without limit) into the
  // packet in `holder` (taken from the pool when empty). 1 when a datagram
  // was received, decoded or not.
  int ReceiveOne(int32_t timeoutMs, RR_PACKET** holder);

  void Init() override;
  void Run() override;
  void Exit() override;
  // Wakes the task, waits for it to end and closes the socket. The task
  // ends within a second of being woken; one that does not is killed after
  // kStopGraceTicks per phase, so that no caller (a session being deleted
  // at unload among them) waits without limit.
  void Stop(int runTimeout, int exitTimeout) override;
  static constexpr int kStopGraceTicks = 900;
  using CTASK::Stop;

  // Datagrams received, those decoded whole, and the others by reason
  // (statistics for tools and tests): received = decoded + every drop.
  std::atomic<uint32_t> m_received{0};
  std::atomic<uint32_t> m_decoded{0};
  std::atomic<uint32_t> m_dropped[kDmxDropReasons] = {};
  uint32_t Dropped(DmxDrop reason) const { return m_dropped[static_cast<int>(reason)].load(); }

  std::atomic<int32_t> m_running{0};
  uint32_t m_interface = 0;
  int32_t m_group = -1;
  UDPSOCKET m_socket;
  RR_PACKET* m_packet = nullptr;

 private:
  // Takes the levels' lock for a decode; waits as long as the host holds it
  // unless a stop is requested meanwhile (false then).
  bool LockLevelsForDecode();
  void Count(DmxDrop reason) { m_dropped[static_cast<int>(reason)].fetch_add(1, std::memory_order_relaxed); }

  // The joined group, as the task's own copy: Leave may clear m_group while
  // the task still receives.
  uint32_t m_groupAddr = 0;
};
