// End to end on loopback: the time from a console's send to the level
// being visible through GetPortBuffer, and the highest datagram rate the
// driver follows without losing a change; each beside the same figure for a
// bare recvfrom loop on the same group and port (the kernel's limit).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_state.h"
#include "driver/pvtrivane.h"
#include "protocol/dmx_sniffer.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tools/console_sim.h"
#include "tools/dmx_encode.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/lib_startup.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kConsole = 20;
const uint32_t kLoopback = MakeAddress(127, 0, 0, 1);

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// A datagram of two full universes whose first four channels of universe 0
// carry `sequence`.
std::vector<uint8_t> Datagram(uint32_t sequence) {
  uint8_t levels[2][512];
  for (int u = 0; u < 2; ++u)
    for (int c = 0; c < 512; ++c) levels[u][c] = static_cast<uint8_t>(c + u);
  std::memcpy(levels[0], &sequence, 4);
  std::vector<UniverseBlock> blocks(2);
  for (int u = 0; u < 2; ++u) {
    blocks[u].universe = u;
    AppendLevelRecord(blocks[u].records, levels[u], nullptr);
  }
  return BuildDmxDatagram(blocks);
}

struct Sender {
  Sender() : socket(osUdpSocket()), to(DmxPort, DmxGroup(kConsole)) {
    osSetMulticastIf(socket, kLoopback);
    osSetSockOpt(socket, OsSockOpt::MulticastLoop, 1);
  }
  ~Sender() { osSocketClose(socket); }
  void Send(const std::vector<uint8_t>& d) const { osSendTo(socket, d.data(), static_cast<int>(d.size()), &to); }
  OsSocket socket;
  IPADDRESS to;
};

uint32_t VisibleSequence() {
  uint32_t sequence = 0;
  if (LockPortBuffer(kConsole, 0) != 0) return 0;
  uint8_t* buffer = nullptr;
  if (GetPortBuffer(kConsole, 0, &buffer) == 512 && buffer != nullptr) std::memcpy(&sequence, buffer, 4);
  UnlockPortBuffer(kConsole, 0);
  return sequence;
}

struct Percentiles {
  double p50, p99, max;
};

Percentiles Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back()};
}

// A plain socket on the console's group and port.
struct BareReceiver {
  BareReceiver() : socket(osUdpSocket()) {
    osSetSockOpt(socket, OsSockOpt::ReuseAddr, 1);
    osSetSockOpt(socket, OsSockOpt::ReceiveBuffer, 1 << 20);
    osReportDestination(socket);
    const IPADDRESS any(DmxPort, 0);
    osBind(socket, &any);
    osMembership(socket, true, DmxGroup(kConsole), kLoopback);
  }
  ~BareReceiver() { osSocketClose(socket); }
  // One datagram's sequence, or 0 after `timeoutUs` without one.
  uint32_t Receive(int64_t timeoutUs) {
    if (osSelect(socket, false, timeoutUs) != 1) return 0;
    uint8_t buffer[2048];
    bool truncated = false;
    uint32_t destination = 0;
    const int n = osRecvFrom(socket, buffer, sizeof buffer, &truncated, &destination);
    if (n < 48 + 12 + 2 + 5) return 0;
    uint32_t sequence;
    std::memcpy(&sequence, buffer + 48 + 12 + 2 + 1 + 1 + 1 + 1, 4);  // type, M0, M1, M2, levels
    return sequence;
  }
  OsSocket socket;
};

// Sends `count` datagrams (built beforehand) at `rate` per second; returns
// the rate reached.
double Blast(const Sender& sender, uint32_t first, int count, double rate) {
  std::vector<std::vector<uint8_t>> datagrams;
  for (int i = 0; i < count; ++i) datagrams.push_back(Datagram(first + static_cast<uint32_t>(i)));
  const auto start = Clock::now();
  const double period = 1e6 / rate;
  for (int i = 0; i < count; ++i) {
    const auto due = start + std::chrono::nanoseconds(static_cast<int64_t>(i * period * 1000));
    while (Clock::now() < due) {
    }
    sender.Send(datagrams[static_cast<size_t>(i)]);
  }
  return count / (Us(Clock::now() - start) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  int samples = 10000;
  int burst = 20000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--samples") samples = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "--burst") burst = std::atoi(argv[i + 1]);
  }
  int major = 0;
  osNetStartup(&major);
  LibStartup();
  AutofocusMode = BLIND_AUTOFOCUS;
  InterfaceAddr = kLoopback;

  SimOptions options;
  options.console = kConsole;
  options.rateHz = 0;
  ConsoleSimulator sim(options);
  std::string error;
  if (!sim.Start(&error) || AddPortMap(kConsole) != kConsole) {
    std::fprintf(stderr, "e2e: cannot connect the simulated console: %s\n", error.c_str());
    return 1;
  }
  Sender sender;
  while (VisibleSequence() != 1) {  // the receiver has joined
    sender.Send(Datagram(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Latency through the driver: send, then poll as the host does.
  std::vector<double> driverUs;
  for (int i = 0; i < samples; ++i) {
    const uint32_t sequence = 1000 + static_cast<uint32_t>(i);
    const std::vector<uint8_t> d = Datagram(sequence);
    const auto t0 = Clock::now();
    sender.Send(d);
    while (VisibleSequence() != sequence) {
      if (Clock::now() - t0 > std::chrono::milliseconds(200)) break;  // lost: counts as 200 ms
    }
    driverUs.push_back(Us(Clock::now() - t0));
  }

  // Highest rate the driver follows with every datagram decoded.
  PORTS* session = FindPortMap(kConsole);
  std::printf("rate_pps,reached_pps,driver_decoded,bare_received,sent\n");
  double driverMax = 0, bareMax = 0;
  const double rates[] = {10000, 50000, 100000, 200000, 300000, 400000, 600000, 1000000};
  uint32_t next = 5000000;
  std::vector<std::pair<double, int>> driverLoss;
  Blast(sender, next, 2000, 10000);  // warm-up, not counted
  next += 2000;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (double rate : rates) {
    const uint32_t before = session->Sniffer.load()->m_decoded;
    rate = std::min(rate, Blast(sender, next, burst, rate));
    next += static_cast<uint32_t>(burst);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int decoded = static_cast<int>(session->Sniffer.load()->m_decoded - before);
    driverLoss.push_back({rate, burst - decoded});
    if (decoded == burst && VisibleSequence() == next - 1) driverMax = std::max(driverMax, rate);
  }
  RemovePortMap(kConsole);

  // The same through a bare socket.
  BareReceiver bare;
  std::vector<double> bareUs;
  for (int i = 0; i < samples; ++i) {
    const std::vector<uint8_t> d = Datagram(2000000 + static_cast<uint32_t>(i));
    const auto t0 = Clock::now();
    sender.Send(d);
    bare.Receive(200000);
    bareUs.push_back(Us(Clock::now() - t0));
  }
  size_t r = 0;
  Blast(sender, next, 2000, 10000);  // warm-up, drained below
  next += 2000;
  while (bare.Receive(100000) != 0) {
  }
  for (double rate : rates) {
    std::atomic<int> received{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
      while (!done)
        if (bare.Receive(50000) != 0) ++received;
    });
    const double reached = std::min(rate, Blast(sender, next, burst, rate));
    next += static_cast<uint32_t>(burst);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
    reader.join();
    std::printf("%.0f,%.0f/%.0f,%d,%d,%d\n", rate, driverLoss[r].first, reached, burst - driverLoss[r].second,
                received.load(), burst);
    if (received == burst) bareMax = std::max(bareMax, reached);
    ++r;
  }

  const Percentiles d = Summarise(driverUs), b = Summarise(bareUs);
  std::printf("\nlatency_us      p50      p99      max   (%d samples)\n", samples);
  std::printf("driver    %8.1f %8.1f %8.1f\n", d.p50, d.p99, d.max);
  std::printf("bare      %8.1f %8.1f %8.1f\n", b.p50, b.p99, b.max);
  std::printf("ratio     %8.2f %8.2f\n", d.p50 / b.p50, d.p99 / b.p99);
  std::printf("\nmax lossless rate (datagrams/s of %zu bytes): driver %.0f, bare %.0f, ratio %.2f\n",
              Datagram(0).size(), driverMax, bareMax, bareMax > 0 ? driverMax / bareMax : 0.0);
  sim.Stop();
  LibShutdown();
  return 0;
}
