// What the figures of pv_bench share: the clock, the result lines that
// scripts/bench.sh reads, the process's processor time, a raw sender and a
// bare receiver on loopback (the floors), and a driver session in this
// process.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "dmx_net/COMMON/rr_header.h"
#include "tvnLib/os_net.h"

using BenchClock = std::chrono::steady_clock;

inline double UsSince(BenchClock::time_point start) {
  return std::chrono::duration<double, std::micro>(BenchClock::now() - start).count();
}

// One figure beside its floor, as the line "RESULT figure|value|floor|unit|
// better" (better: "higher" or "lower"). A floor of 0 means none.
void Report(const std::string& figure, double value, double floor, const std::string& unit, bool higherIsBetter);

// Processor time (user and system) of this process, and of the calling
// thread, so far, in seconds.
double ProcessCpuSeconds();
double ThreadCpuSeconds();

struct Percentiles {
  double p50, p99, max;
};
Percentiles Summarise(std::vector<double> samples);

// Sends prepared datagrams to a group on loopback.
class RawSender {
 public:
  explicit RawSender(uint32_t group, uint16_t port);
  ~RawSender();
  RawSender(const RawSender&) = delete;
  RawSender& operator=(const RawSender&) = delete;
  void Send(const std::vector<uint8_t>& datagram) const;

 private:
  OsSocket m_socket;
  uint8_t m_to[16];
};

// A plain socket on a group and port of loopback: the kernel's floor. Each
// receive is one blocking recvfrom, which gives up after 200 ms.
class BareReceiver {
 public:
  BareReceiver(uint32_t group, uint16_t port);
  ~BareReceiver();
  BareReceiver(const BareReceiver&) = delete;
  BareReceiver& operator=(const BareReceiver&) = delete;
  // One datagram into `buffer` (2048 bytes); its length, or 0.
  int Receive(uint8_t* buffer);

 private:
  OsSocket m_socket;
};

// Runs `body` on a thread at the DMX receiver's priority (2, raised where
// the process may raise it), so that a floor's receiver competes for the
// processor as the driver's does; joined by the destructor.
class ReceiverThread {
 public:
  explicit ReceiverThread(std::function<void()> body);
  ~ReceiverThread();
  ReceiverThread(const ReceiverThread&) = delete;
  ReceiverThread& operator=(const ReceiverThread&) = delete;

 private:
  static void Entry(void* self);
  std::function<void()> m_body;
  struct OsThread* m_thread;
};

// The driver's library state for a bench in this process: sockets and the
// runtime started, loopback as the interface, blind autofocus.
void StartDriverRuntime();
void StopDriverRuntime();

// The DMX group of `console` on loopback, and the loopback address.
uint32_t DmxGroupOf(uint16_t console);
uint32_t Loopback();

// The first four levels of universe 0 of `console`, read as the host reads
// them (0 when the port cannot be read).
uint32_t VisibleSequence(uint16_t console);

// Datagrams of a frame of `universes` universes (all 512 channels each, or
// `sparseChannels` changed channels each when not 0), the first four levels
// of universe 0 carrying `sequence`.
std::vector<std::vector<uint8_t>> FrameDatagrams(int universes, int sparseChannels, uint32_t sequence);
