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
#include "dmx_stats.h"
#include "../tvnLib/ctask.h"
#include "../tvnLib/udpsocket.h"

constexpr uint16_t DmxPort = 9138;
constexpr int kReceiveBufferBytes = 1 << 20;

// The DMX group of console N: 236.3.2.(32 + N).
uint32_t DmxGroup(int32_t console);

class DMX_SNIFFER : public CTASK, public DMX_DATA_CODER {
 public:
  // Decodes into `store` (the session's banks) and counts into `stats`
  // (the session's), or into banks and counts of its own.
  explicit DMX_SNIFFER(UNIVERSE_STORE* store = nullptr, DMX_STATS* stats = nullptr);
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
  // ends at once when woken; one that does not is killed after
  // StopGraceTicks per phase (3 s; tests shorten it), so that no caller (a
  // session being deleted at unload among them) waits without limit.
  void Stop(int runTimeout, int exitTimeout) override;
  static std::atomic<int> StopGraceTicks;
  using CTASK::Stop;

  // What this receiver counts into.
  DMX_STATS& Stats() { return *m_stats; }

  std::atomic<int32_t> m_running{0};
  uint32_t m_interface = 0;
  int32_t m_group = -1;
  UDPSOCKET m_socket;
  RR_PACKET* m_packet = nullptr;

 private:
  // Takes the levels' lock for a decode; waits as long as the host holds it
  // unless a stop is requested meanwhile (false then).
  bool LockLevelsForDecode();
  // Pauses after a pass that failed at once (a broken socket, an empty
  // pool), so that the receiver never spins a core.
  void PauseAfterFailure();

  DMX_STATS m_ownStats;
  DMX_STATS* const m_stats;
  bool m_lastPassFailed = false;

  // The joined group, as the task's own copy: Leave may clear m_group while
  // the task still receives.
  uint32_t m_groupAddr = 0;
};
