// Figures 4, 5 and 6: what the driver costs a host, and how fast a console
// comes and goes. The consoles of figures 4 and 5 are other processes
// (scripts/bench.sh starts trivane-sim), so that this process's processor
// time is the driver's and the host loop's alone.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "bench_util.h"
#include "driver/pvtrivane.h"
#include "figures.h"
#include "protocol/dmx_sniffer.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tools/console_sim.h"

namespace {

void SleepUntil(BenchClock::time_point t) { std::this_thread::sleep_until(t); }

// Every datagram of the simulator's full frames carries two universes.
constexpr int kUniversesPerDatagram = 2;

// Processor time per universe update of the driver's threads, and of the
// whole process with a host that polls all 64 ports of console 1 at 40 Hz
// and reads their levels (that host runs on this thread).
struct DriverCost {
  double driverUs = 0;
  double withHostUs = 0;
};

DriverCost DriverCpu(double seconds) {
  if (AddPortMap(1) != 1) {
    std::fprintf(stderr, "pv_bench: console 1 did not accept (is trivane-sim running?)\n");
    return {};
  }
  static uint8_t host[64][512];
  auto poll = [] {
    for (int port = 0; port < 64; ++port) {
      if (LockPortBuffer(1, port) != 0) continue;
      uint8_t* buffer = nullptr;
      if (GetPortBuffer(1, port, &buffer) == 512 && buffer != nullptr) std::memcpy(host[port], buffer, 512);
      UnlockPortBuffer(1, port);
    }
  };
  const auto period = std::chrono::microseconds(25000);
  auto next = BenchClock::now();
  for (int i = 0; i < 40; ++i) {  // a second to settle
    poll();
    SleepUntil(next += period);
  }
  // The session's counts, which outlive any receiver it replaces.
  const DMX_STATS& stats = FindPortMap(1)->DmxStats;
  const uint32_t before = stats.m_decoded.load();
  const double cpuBefore = ProcessCpuSeconds();
  const double hostBefore = ThreadCpuSeconds();
  const auto start = BenchClock::now();
  while (UsSince(start) < seconds * 1e6) {
    poll();
    SleepUntil(next += period);
  }
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double hostCpu = ThreadCpuSeconds() - hostBefore;
  const double updates = kUniversesPerDatagram * static_cast<double>(stats.m_decoded.load() - before);
  RemovePortMap(1);
  std::printf("CPU driver %.3f s (the host loop %.3f s) for %.0f universe updates in %.1f s\n", cpu, hostCpu, updates,
              seconds);
  std::printf("UPDATES %.0f\n", updates);
  if (updates <= 0) return {};
  return {(cpu - hostCpu) * 1e6 / updates, cpu * 1e6 / updates};
}

// A bare receiver on console 1's group: each datagram received and its
// universes' level bytes copied, on a thread at the driver's receiver's
// priority (a raised priority costs preemptions of its own).
double BareCpu(double seconds) {
  BareReceiver bare(DmxGroupOf(1), DmxPort);
  static uint8_t levels[64][512];
  std::atomic<int> phase{0};  // 0 settle, 1 measure, 2 stop
  std::atomic<uint64_t> updates{0};
  double cpu = 0;
  {
    ReceiverThread receiver([&] {
      uint8_t buffer[2048];
      while (phase != 2) {
        const int n = bare.Receive(buffer);
        if (n < kRrHeaderSize + 12) continue;
        const uint8_t* payload = buffer + kRrHeaderSize;
        int universes = 0;
        for (int g = 0; g < 8; ++g) universes += __builtin_popcount(payload[4 + g]);
        // The level bytes of each universe, as many as its block spans.
        const size_t span =
            universes > 0 ? static_cast<size_t>(n - kRrHeaderSize - 12) / static_cast<size_t>(universes) : 0;
        for (int u = 0; u < universes; ++u)
          std::memcpy(levels[u], payload + 12 + static_cast<size_t>(u) * span, std::min<size_t>(span, 512));
        if (phase == 1) updates += static_cast<uint64_t>(universes);
      }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpuBefore = ProcessCpuSeconds();
    phase = 1;
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
    phase = 2;
    cpu = ProcessCpuSeconds() - cpuBefore;
  }
  const double n = static_cast<double>(updates.load());
  std::printf("CPU bare %.3f s for %.0f universe updates in %.1f s\n", cpu, n, seconds);
  std::printf("UPDATES %.0f\n", n);
  return n > 0 ? cpu * 1e6 / n : 0;
}

}  // namespace

void CpuFigure(bool bare, double seconds, double bareUs) {
  if (bare) {
    Report("processor time per universe update, bare receiver", BareCpu(seconds), 0, "us", false);
    return;
  }
  const DriverCost driver = DriverCpu(seconds);
  Report("processor time per universe update (64 at 44 Hz), driver threads", driver.driverUs, bareUs, "us", false);
  Report("  the same with the host reading 64 ports at 40 Hz", driver.withHostUs, bareUs, "us", false);
}

void IdleFigure(int sessions, double seconds) {
  int connected = 0;
  for (int c = 1; c <= sessions; ++c) connected += AddPortMap(c) == c ? 1 : 0;
  if (connected != sessions) std::fprintf(stderr, "pv_bench: %d of %d consoles accepted\n", connected, sessions);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double cpuBefore = ProcessCpuSeconds();
  const auto start = BenchClock::now();
  std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall = UsSince(start) / 1e6;
  ClearPortMap();
  std::printf("CPU idle %.4f s in %.1f s with %d sessions\n", cpu, wall, connected);
  char figure[96];
  std::snprintf(figure, sizeof figure, "idle, %d connected session%s, per session", sessions, sessions == 1 ? "" : "s");
  Report(figure, connected > 0 ? 100.0 * cpu / wall / connected : 0, 0, "% of a core", false);
}

void ConnectFigures(int cycles) {
  constexpr uint16_t kConsole = 21;
  SimOptions options;
  options.console = kConsole;
  options.neverAccept = true;  // it accepts when told
  options.rateHz = 200;        // a frame every 5 ms once the receiver runs
  options.pattern = SimPattern::Static;
  ConsoleSimulator sim(options);
  std::string error;
  if (!sim.Start(&error)) {
    std::fprintf(stderr, "pv_bench: %s\n", error.c_str());
    return;
  }
  uint8_t levels[512];
  std::memset(levels, 0x5A, sizeof levels);
  sim.SetLevels(0, levels, /*sendNow=*/false);
  std::vector<double> returnMs, levelsMs, disconnectMs;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    BenchClock::time_point connected;
    uint16_t handle = 0;
    std::thread host([&] {
      handle = AddPortMap(kConsole);
      connected = BenchClock::now();
    });
    // The console answers the session's first heartbeat that it hears.
    int seen = 0;
    for (const SimControlPacket& p : sim.ControlPackets()) seen += p.type == PD_HEARTBEAT ? 1 : 0;
    sim.WaitForControl(PD_HEARTBEAT, seen + 1, 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the state receiver has joined
    const auto accepted = BenchClock::now();
    sim.SendAccept();
    host.join();
    if (handle != kConsole) {
      std::fprintf(stderr, "pv_bench: console %d did not connect\n", kConsole);
      return;
    }
    returnMs.push_back(std::chrono::duration<double, std::milli>(connected - accepted).count());
    while (VisibleSequence(kConsole) != 0x5A5A5A5Au && UsSince(accepted) < 2e6) {
    }
    levelsMs.push_back(UsSince(accepted) / 1000);
    const auto disconnect = BenchClock::now();
    RemovePortMap(kConsole);
    disconnectMs.push_back(UsSince(disconnect) / 1000);
  }
  const Percentiles r = Summarise(returnMs), l = Summarise(levelsMs), d = Summarise(disconnectMs);
  Report("Connect returns after the acceptance, median", r.p50, 0, "ms", false);
  Report("first level visible after the acceptance, median", l.p50, 0, "ms", false);
  Report("first level visible after the acceptance, max", l.max, 0, "ms", false);
  Report("Disconnect, median", d.p50, 0, "ms", false);
  Report("Disconnect, max", d.max, 0, "ms", false);
}
