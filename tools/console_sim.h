// A Trivane console on a local interface, for tests and for people without
// a console: it listens on 236.3.3.N:6007, answers the driver's heartbeat
// with PD_ACCEPT, can shut the connection down and accept again, and
// streams DMX_DATA_NEW datagrams to 236.3.2.(32 + N):9138. It reports every
// control packet that others send to its group (its own, looped back, are
// known by their sending port).
//
// The simulator owns two threads (control receiver, DMX sender); its public
// calls may come from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../protocol/pd_packet.h"
#include "../tvnLib/os_net.h"

enum class SimPattern { Static, Chase, Fade, RandomSparse };

struct SimOptions {
  uint32_t console = 1;
  uint32_t interfaceAddr = 0;  // network order; 0 selects 127.0.0.1
  int universes = 1;           // universes 0..universes-1 stream
  double rateHz = 40.0;        // 0: no DMX stream
  SimPattern pattern = SimPattern::Chase;
  bool changedOnly = false;  // only changed channels (a full frame every second)
  int acceptDelayMs = 0;
  int acceptIntervalMs = 2000;  // at most one acceptance of a heartbeat per interval
  bool neverAccept = false;
  int shutdownAfterMs = -1;  // PD_SHUTDOWN this long after the acceptance
  int reacceptAfterMs = -1;  // accept again this long after a shutdown
  bool keepPackets = true;   // false: control packets are passed to the callback only
  uint32_t dmxVersion = 7;   // the protocol version in the DMX headers
  uint32_t dmxType = 24;     // the packet type in the DMX headers
  uint8_t level = 0;         // every channel's level in the Static pattern
};

// What the simulator saw of one control packet.
struct SimControlPacket {
  uint32_t type;
  uint32_t signature;
  uint32_t receiving;
  int length;
  std::vector<uint8_t> bytes;
  uint64_t atMs;        // milliseconds since Start
  uint32_t source = 0;  // the sender's address (network order) and port
  uint16_t sourcePort = 0;
};

class ConsoleSimulator {
 public:
  explicit ConsoleSimulator(const SimOptions& options);
  ~ConsoleSimulator();
  ConsoleSimulator(const ConsoleSimulator&) = delete;
  ConsoleSimulator& operator=(const ConsoleSimulator&) = delete;

  // Opens the sockets and starts the threads; false (with `error`) when a
  // socket cannot be set up.
  bool Start(std::string* error);
  void Stop();

  // Control messages on demand.
  void SendAccept();
  void SendShutdown();
  void SendRaw(const void* data, int length);  // any bytes to 236.3.3.N:6007

  // Levels: with the Static pattern these are what streams; SetLevels also
  // sends the change at once when `sendNow`.
  void SetLevels(int universe, const uint8_t* levels, bool sendNow = true);
  // Sends one datagram as given to the DMX group.
  void SendDmxDatagram(const std::vector<uint8_t>& datagram);

  // Called for every control packet received (on the receiver thread).
  void OnControlPacket(std::function<void(const SimControlPacket&)> callback);

  // Everything received so far, and counters.
  std::vector<SimControlPacket> ControlPackets() const;
  bool WaitForControl(uint32_t type, int count, int timeoutMs) const;
  uint64_t FramesSent() const { return m_framesSent; }
  bool Accepted() const { return m_accepted; }
  const SimOptions& Options() const { return m_options; }

  // The decoded description of a control packet (type, Receiving, and the
  // autofocus bodies), one line.
  static std::string Describe(const SimControlPacket& packet);

 private:
  void ReceiveLoop();
  void SendLoop();
  void SendControl(uint32_t type);
  void NextFrame(uint64_t frame);
  uint64_t NowMs() const;

  SimOptions m_options;
  uint32_t m_controlGroup;
  uint32_t m_dmxGroup;
  OsSocket m_receiveSocket = kOsInvalidSocket;
  OsSocket m_sendSocket = kOsInvalidSocket;
  uint16_t m_sendPort = 0;  // our own packets come back from it
  std::thread m_receiver;
  std::thread m_sender;
  std::atomic<bool> m_running{false};
  std::atomic<bool> m_accepted{false};
  std::atomic<uint64_t> m_framesSent{0};
  uint64_t m_startMs = 0;
  std::atomic<uint64_t> m_lastAcceptMs{0};
  std::atomic<uint64_t> m_shutdownAtMs{0};

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<SimControlPacket> m_packets;
  std::function<void(const SimControlPacket&)> m_callback;
  std::vector<uint8_t> m_levels;    // 512 per universe
  std::vector<uint8_t> m_previous;  // what was last sent
  std::mutex m_sendMutex;
};
