// The session of one connected console: its two control threads
// (StateRcv, HeartbeatSender) with their sockets, the lock that serialises
// every send to the console, the event that reports the console's
// acceptance, the level banks of its 64 universes, and, while the console
// streams DMX, its DMX receiver, which decodes into those banks.
//
// Owned by the console map (port_map.h) and created and deleted on the
// host's thread. Three threads touch a session: the host's (construction,
// destruction, the port-buffer and autofocus exports), the state receiver
// (StartSniffer, StopSniffer) and the heartbeat sender. The destructor ends
// and joins both threads, and the receiver's, before it releases anything,
// so no thread outlives its session; every wait in it is bounded, as it
// also runs at unload, and a thread that does not end in time is ended by
// force without leaving a lock or a receiver behind. Nothing here takes a
// lock to hand things between the threads: the stopping flag and the
// published sockets and receiver are atomics, read and written in an order
// that lets each side see the other.
//
// The banks live as long as the session, so every address the host was
// given stays valid until Disconnect. The host's lock on them never holds up
// the state receiver for more than kHostWaitMs: a clear that the host keeps
// waiting is carried out by the next holder of the lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "../protocol/dmx_sniffer.h"
#include "../protocol/dmx_stats.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/os.h"
#include "../tvnLib/os_net.h"
#include "../tvnLib/sync.h"

// Why the state receiver passed over a control datagram.
enum class ControlDrop : int {
  OtherGroup,  // sent to another console's group
  Signature,   // not a control packet (short ones are zero-filled first)
  OtherType,   // a type the driver does not act on (its own heartbeats among them)
};
constexpr int kControlDropReasons = 3;
extern const char* const ControlDropNames[kControlDropReasons];

class PORTS {
 public:
  // Builds the session of `console` and starts both threads at once; when
  // an event or lock cannot be had (logged), no thread runs and Ready() is
  // false.
  explicit PORTS(uint32_t console);
  ~PORTS();
  PORTS(const PORTS&) = delete;
  PORTS& operator=(const PORTS&) = delete;

  // Marks the session as being destroyed and wakes its threads; the
  // destructor does it too. Deleting many sessions (the console map at
  // unload) marks them all first, so that none starts anything meanwhile.
  void BeginStop();

  // State receiver thread: a (new) DMX receiver on acceptance, none once
  // the session is being destroyed; none on shutdown, and the levels back
  // to 0. Neither waits for the host longer than kHostWaitMs.
  void StartSniffer();
  void StopSniffer();
  static constexpr int32_t kHostWaitMs = 200;

  bool Ready() const { return m_ready; }
  uint32_t Console() const { return GroupAddr >> 24; }
  bool HasSniffer() const { return Sniffer.load(std::memory_order_acquire) != nullptr; }

  // ---- the host's access to the port buffers (host's thread only) ----
  // Takes the session's level banks: no packet is half applied while the
  // host holds them. -1 without a receiver.
  int LockBuffers(const char* who);
  // Releases one hold; -1 when the host holds none.
  int UnlockBuffers();
  int HostHolds() const { return m_hostHeld.load(); }
  // The universe buffer of `port` through *out; 0 without a receiver,
  // 512 otherwise.
  int BufferOf(int port, uint8_t** out);
  UNIVERSE_STORE& Levels() { return m_levels; }

  // Sends one control packet under SendLock on SendSfd; a failed send is
  // logged with `errorFormat` (one %d for the socket error).
  void SendPacket(const PD_PACKET& packet, const char* errorFormat);

  // Publishes a socket a thread opened; false when the session is being
  // destroyed (the destructor closes it then, once the thread has ended).
  bool PublishSocket(std::atomic<OsSocket>* field, OsSocket s);
  bool Stopping() const { return m_stopping.load(); }
  // Sleeps `ms` or until the session is being destroyed; false then.
  bool Pause(uint32_t ms);

  // The state receiver listens (it has joined its group), or its set-up
  // failed: the heartbeat sender begins only then, so that no acceptance
  // of the console's goes unheard.
  void SetListening() { m_listening.Set(); }
  bool Listening() const { return m_listening.IsSet() != 0; }

  // How long the destructor lets each control thread end before it ends it
  // by force (tests shorten it).
  static std::atomic<uint32_t> ThreadEndMs;

  OsThread* hStateRcvThread = nullptr;
  OsThread* hHeartbeatThread = nullptr;
  uint32_t StateRcvThreadId = 0;
  uint32_t HeartbeatThreadId = 0;
  uint32_t GroupAddr;
  std::atomic<OsSocket> StateRcvSfd{0};
  std::atomic<OsSocket> SendSfd{0};
  // The runtime's lock rather than a bare critical section, so that a
  // sender ended by force while it holds it does not strand every later
  // send.
  RESOURCE SendLock;
  // The receiver in use: what the host and the heartbeat see.
  std::atomic<DMX_SNIFFER*> Sniffer{nullptr};
  OsHandle hconnect_event = nullptr;

  // Heartbeats sent (statistics for tools and tests).
  std::atomic<uint32_t> HeartbeatsSent{0};
  // Control datagrams the state receiver took, and those it passed over by
  // reason (statistics for tools and tests).
  std::atomic<uint32_t> ControlReceived{0};
  std::atomic<uint32_t> ControlDropped[kControlDropReasons] = {};
  uint32_t ControlDrops(ControlDrop reason) const { return ControlDropped[static_cast<int>(reason)].load(); }
  // What every receiver of this session did with the DMX datagrams.
  DMX_STATS DmxStats;

  // How each thread ended: -1 when setting up its socket failed, else 0.
  std::atomic<int> StateRcvExit{0};
  std::atomic<int> HeartbeatExit{0};

 private:
  void EndThread(OsThread** thread, std::atomic<OsSocket>* field);

  bool m_ready = false;
  std::atomic<bool> m_stopping{false};
  EVENT m_stopEvent;   // wakes the threads' pauses
  EVENT m_listening;   // the state receiver listens, or gave up
  // The receiver this session owns, from its creation until it is deleted
  // (Sniffer is cleared first, so that nothing new uses it): a state
  // receiver ended by force in between leaves it to the destructor.
  std::atomic<DMX_SNIFFER*> m_receiver{nullptr};
  UNIVERSE_STORE m_levels;         // the host holds its lock between lock and unlock
  std::atomic<int> m_hostHeld{0};  // the host's nested holds
};

// The control threads (protocol/control_threads.cpp).
void StateRcv(void* session);
void HeartbeatSender(void* session);
// What a control datagram asks of the session.
enum class ControlIntent { None, Accept, Shutdown };
// The state receiver's reading of one datagram received on the control
// port (zero-filled past its length) that was sent to `destination` (0:
// unknown): counts what it passes over, logs acceptances and shutdowns,
// and sets the connect event on an acceptance.
ControlIntent TakeControlDatagram(PORTS* ports, const PD_PACKET& packet, uint32_t destination);
// Carries out an intent: an acceptance pauses 100 ms and (re)starts the DMX
// receiver, a shutdown stops it. False when the session is being destroyed
// and the state receiver should end.
bool ApplyControlIntent(PORTS* ports, ControlIntent intent);
// Both, for one datagram.
bool HandleControlDatagram(PORTS* ports, const PD_PACKET& packet, uint32_t destination);

// Waits until `s` is readable within `timeoutUs` (or writable, without
// limit); true only when it is.
bool SelectRead(OsSocket s, int64_t timeoutUs);
bool SelectWrite(OsSocket s);

// The driver's local interface for multicast (driver/driver_state.cpp).
uint32_t CurrentInterfaceAddr();
