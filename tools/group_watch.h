// Listens to every console's groups on one interface (control 236.3.3.1-31
// on 6007, DMX 236.3.2.33-63 on 9138) beside the driver, and counts what
// each group carries: control packets by type, DMX datagrams by what the
// driver's acceptance rule would make of them, and the universes they
// carry. It tells the technician whether a console talks under another
// number than the one configured.
//
// Owns a receiving thread per socket (a socket may join only so many groups:
// Linux allows 20); Snapshot may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../tvnLib/os_net.h"

// What the acceptance rule would make of a DMX datagram.
enum class DmxVerdict : int { Accepted, Version, Length, Type, Flag };
constexpr int kDmxVerdicts = 5;
extern const char* const DmxVerdictNames[kDmxVerdicts];

struct GroupTraffic {
  uint32_t control[8] = {};  // by message type 0..6; 7: no control packet
  uint32_t dmx[kDmxVerdicts] = {};
  uint32_t universe[64] = {};  // datagrams carrying each universe (accepted ones)
};

class GroupWatch {
 public:
  explicit GroupWatch(uint32_t interfaceAddr);
  ~GroupWatch();
  GroupWatch(const GroupWatch&) = delete;
  GroupWatch& operator=(const GroupWatch&) = delete;

  // False (with `error`) when the sockets cannot be set up.
  bool Start(std::string* error);
  void Stop();

  // Counts so far of console 1..31's groups.
  GroupTraffic Snapshot(int console) const;

  // The acceptance rule's verdict on a datagram of `length` bytes.
  static DmxVerdict Judge(const uint8_t* datagram, int length);

 private:
  // Receives on `s` until stopped, counting consoles first..last; `dmx`
  // tells the port.
  void Loop(OsSocket s, bool dmx, int first, int last);

  uint32_t m_interface;
  std::vector<OsSocket> m_sockets;
  std::vector<std::thread> m_threads;
  std::atomic<bool> m_running{false};
  mutable std::mutex m_lock;
  GroupTraffic m_traffic[32];
};
