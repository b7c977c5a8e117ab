// Listens to every console's groups (control 236.3.3.1-31 on 6007, DMX
// 236.3.2.33-63 on 9138) on one or more interfaces beside the driver,
// without sending anything, and tallies what each console's groups carry
// (traffic_tally.h): who talks, whether the driver could decode it, which
// universes stream. It tells the technician what streams without
// disturbing a running show, and where a console talks under another
// number or on another interface.
//
// Owns its sockets and a receiving thread per socket (a socket may join
// only so many groups: Linux allows 20). Start, Stop and Reset on the
// owner's thread; Snapshot and NowMs from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../tvnLib/os_net.h"
#include "traffic_tally.h"

class GroupWatch {
 public:
  // Joins the groups on each of `interfaces` (network order).
  explicit GroupWatch(std::vector<uint32_t> interfaces);
  ~GroupWatch();
  GroupWatch(const GroupWatch&) = delete;
  GroupWatch& operator=(const GroupWatch&) = delete;

  // False (with `error`) when the sockets cannot be set up.
  bool Start(std::string* error);
  void Stop();
  // Forgets every count: the tallies start again now.
  void Reset();

  // Console 1..31's tally so far, and the time on its clock.
  GroupTraffic Snapshot(int console) const;
  uint32_t NowMs() const;

 private:
  // Receives on `s` until stopped, tallying consoles first..last; `dmx`
  // tells the port.
  void Loop(OsSocket s, bool dmx, int first, int last);

  std::vector<uint32_t> m_interfaces;
  std::vector<OsSocket> m_sockets;
  std::vector<std::thread> m_threads;
  std::atomic<bool> m_running{false};
  mutable std::mutex m_lock;
  std::chrono::steady_clock::time_point m_start;
  GroupTraffic m_traffic[32];
};
