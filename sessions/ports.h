// The session of one connected console: its two control threads
// (StateRcv, HeartbeatSender) with their sockets, the lock that serialises
// every send to the console, the event that reports the console's
// acceptance, and, while the console streams DMX, its DMX receiver.
//
// Owned by the console map (port_map.h) and created and deleted on the
// host's thread. Three threads touch a session: the host's (construction,
// destruction, the port-buffer and autofocus exports), the state receiver
// (StartSniffer, StopSniffer) and the heartbeat sender. The destructor ends
// and joins both threads before it releases anything, so no thread outlives
// its session.
#pragma once

#include <atomic>
#include <cstdint>

#include "../protocol/dmx_sniffer.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/os.h"
#include "../tvnLib/os_net.h"
#include "../tvnLib/sync.h"

class PORTS {
 public:
  // Builds the session of `console` and starts both threads at once.
  explicit PORTS(uint32_t console);
  ~PORTS();
  PORTS(const PORTS&) = delete;
  PORTS& operator=(const PORTS&) = delete;

  // State receiver thread: a (new) DMX receiver on acceptance; none on
  // shutdown. StopSniffer waits for the host to release the buffers first.
  void StartSniffer();
  void StopSniffer();

  uint32_t Console() const { return GroupAddr >> 24; }
  bool HasSniffer() const { return Sniffer.load(std::memory_order_acquire) != nullptr; }

  // ---- the host's access to the port buffers (host's thread only) ----
  // Takes the session's buffers: the receiver cannot be replaced or deleted
  // until the matching UnlockBuffers. -1 without a receiver.
  int LockBuffers(const char* who);
  // -1 when the host holds no lock on this session.
  int UnlockBuffers();
  // The universe buffer of `port` through *out; 0 without a receiver,
  // 512 otherwise.
  int BufferOf(int port, uint8_t** out);

  // Sends one control packet under SendLock on SendSfd; a failed send is
  // logged with `errorFormat` (one %d for the socket error).
  void SendPacket(const PD_PACKET& packet, const char* errorFormat);

  // Publishes a socket a thread opened; false (and the socket closed) when
  // the session is being destroyed.
  bool PublishSocket(std::atomic<OsSocket>* field, OsSocket s);
  bool Stopping() const { return m_stopping.load(std::memory_order_acquire); }
  // Sleeps `ms` or until the session is being destroyed; false then.
  bool Pause(uint32_t ms);

  OsThread* hStateRcvThread = nullptr;
  OsThread* hHeartbeatThread = nullptr;
  uint32_t StateRcvThreadId = 0;
  uint32_t HeartbeatThreadId = 0;
  uint32_t GroupAddr;
  std::atomic<OsSocket> StateRcvSfd{0};
  std::atomic<OsSocket> SendSfd{0};
  OsLockStorage SendLock;
  std::atomic<DMX_SNIFFER*> Sniffer{nullptr};
  OsHandle hconnect_event = nullptr;

  // How each thread ended: -1 when setting up its socket failed, else 0.
  std::atomic<int> StateRcvExit{0};
  std::atomic<int> HeartbeatExit{0};

 private:
  void EndThread(OsThread** thread, std::atomic<OsSocket>* field);

  std::atomic<bool> m_stopping{false};
  EVENT m_stopEvent;              // wakes the threads' pauses
  CCRITICAL_SECTION m_socketLock; // publication of sockets against m_stopping
  CCRITICAL_SECTION m_hostLock;   // held by the host between lock and unlock
  std::atomic<int> m_hostHeld{0}; // the host's nested holds
};

// The control threads (protocol/control_threads.cpp).
void StateRcv(void* session);
void HeartbeatSender(void* session);

// Waits until `s` is readable within `timeoutUs` (or writable, without
// limit); true only when it is.
bool SelectRead(OsSocket s, int64_t timeoutUs);
bool SelectWrite(OsSocket s);

// The driver's local interface for multicast (driver/driver_state.cpp).
uint32_t CurrentInterfaceAddr();
