// Figures 2 and 3: the way from a console's send to the host, and the
// highest rate the driver follows without losing a datagram, each beside a
// bare receiver on the same group and port (the kernel's floor). The
// console's acceptance comes from a simulator in this process; the DMX
// datagrams from a raw sender, prepared beforehand.
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "bench_util.h"
#include "figures.h"
#include "protocol/dmx_sniffer.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tools/console_sim.h"

namespace {

constexpr uint16_t kConsole = 20;

// A session of kConsole, accepted and receiving, for the figure's lifetime.
class Connected {
 public:
  Connected() {
    SimOptions options;
    options.console = kConsole;
    options.rateHz = 0;
    m_sim.reset(new ConsoleSimulator(options));
    std::string error;
    m_ok = m_sim->Start(&error) && AddPortMap(kConsole) == kConsole;
    if (!m_ok) std::fprintf(stderr, "pv_bench: cannot connect the simulated console: %s\n", error.c_str());
    m_sim->Stop();  // its acceptance is all it was for
  }
  ~Connected() { RemovePortMap(kConsole); }
  bool Ok() const { return m_ok; }

 private:
  std::unique_ptr<ConsoleSimulator> m_sim;
  bool m_ok = false;
};

// Sends `datagrams` at `rate` per second (busy-waiting between sends);
// returns the rate reached.
double Blast(const RawSender& sender, const std::vector<std::vector<uint8_t>>& datagrams, double rate) {
  const auto start = BenchClock::now();
  for (size_t i = 0; i < datagrams.size(); ++i) {
    const double dueUs = static_cast<double>(i) * 1e6 / rate;
    while (UsSince(start) < dueUs) {
    }
    sender.Send(datagrams[i]);
  }
  return static_cast<double>(datagrams.size()) / (UsSince(start) / 1e6);
}

// `burst` datagrams of 64-universe frames, full or sparse.
std::vector<std::vector<uint8_t>> Stream(bool sparse, int burst) {
  std::vector<std::vector<uint8_t>> datagrams;
  for (uint32_t frame = 1; static_cast<int>(datagrams.size()) < burst; ++frame)
    for (auto& d : FrameDatagrams(64, sparse ? 10 : 0, frame)) datagrams.push_back(std::move(d));
  datagrams.resize(static_cast<size_t>(burst));
  return datagrams;
}

// Where the first four levels of universe 0 stand in a full datagram: the
// header, the payload's 12 bytes, the block length, the data type, M0, M1
// and the first group's M2 (FullBlock encoding repeats M2 per group).
constexpr int kSequenceOffset = kRrHeaderSize + 12 + 2 + 1 + 1 + 1 + 1;

// Time for a receiver to take what a burst left in its buffer.
constexpr std::chrono::milliseconds kSettle(150);

const double kRates[] = {5000,   10000,  20000,  40000,  60000,  80000,  100000, 120000, 140000,
                         160000, 180000, 200000, 225000, 250000, 275000, 300000, 350000};

}  // namespace

void LatencyFigures(int samples) {
  RawSender sender(DmxGroupOf(kConsole), DmxPort);
  std::vector<double> driverUs, bareUs;
  {
    Connected session;
    if (!session.Ok()) return;
    while (VisibleSequence(kConsole) != 1) {  // the receiver has joined
      sender.Send(FrameDatagrams(2, 0, 1)[0]);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (int i = 0; i < samples; ++i) {
      const uint32_t sequence = 1000 + static_cast<uint32_t>(i);
      const std::vector<uint8_t> d = FrameDatagrams(2, 0, sequence)[0];
      const auto t0 = BenchClock::now();
      sender.Send(d);
      while (VisibleSequence(kConsole) != sequence && UsSince(t0) < 200000) {
      }
      driverUs.push_back(UsSince(t0));
    }
  }
  // The floor has the driver's shape: a thread that receives, and this one
  // watching for what it received.
  BareReceiver bare(DmxGroupOf(kConsole), DmxPort);
  std::atomic<uint32_t> seen{0};
  std::atomic<bool> done{false};
  {
    ReceiverThread reader([&] {
      uint8_t buffer[2048];
      while (!done) {
        const int n = bare.Receive(buffer);
        uint32_t sequence;
        if (n < kSequenceOffset + 4) continue;
        std::memcpy(&sequence, buffer + kSequenceOffset, 4);
        seen.store(sequence, std::memory_order_release);
      }
    });
    for (int i = 0; i < samples; ++i) {
      const uint32_t sequence = 5000000 + static_cast<uint32_t>(i);
      const std::vector<uint8_t> d = FrameDatagrams(2, 0, sequence)[0];
      const auto t0 = BenchClock::now();
      sender.Send(d);
      while (seen.load(std::memory_order_acquire) != sequence && UsSince(t0) < 200000) {
      }
      bareUs.push_back(UsSince(t0));
    }
    done = true;
  }
  const Percentiles d = Summarise(driverUs), b = Summarise(bareUs);
  Report("send to level visible, p50", d.p50, b.p50, "us", false);
  Report("send to level visible, p99", d.p99, b.p99, "us", false);
  Report("send to level visible, max", d.max, b.max, "us", false);
}

void RateFigures(int burst) {
  RawSender sender(DmxGroupOf(kConsole), DmxPort);
  for (bool sparse : {false, true}) {
    const std::vector<std::vector<uint8_t>> datagrams = Stream(sparse, burst);
    double driverMax = 0, bareMax = 0;
    {
      Connected session;
      if (!session.Ok()) return;
      Blast(sender, Stream(sparse, 1000), 10000);  // warm-up, not counted
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      for (double rate : kRates) {
        bool lossless = false;
        double reached = 0;
        for (int trial = 0; trial < 2 && !lossless; ++trial) {  // a second chance against a passing hiccup
          const uint32_t before = FindPortMap(kConsole)->DmxStats.m_decoded;
          reached = std::min(rate, Blast(sender, datagrams, rate));
          std::this_thread::sleep_for(kSettle);
          lossless = FindPortMap(kConsole)->DmxStats.m_decoded - before == static_cast<uint32_t>(burst);
        }
        if (!lossless) break;
        driverMax = reached;
      }
    }
    BareReceiver bare(DmxGroupOf(kConsole), DmxPort);
    for (double rate : kRates) {
      bool lossless = false;
      double reached = 0;
      for (int trial = 0; trial < 2 && !lossless; ++trial) {
        std::atomic<int> received{0};
        std::atomic<bool> done{false};
        {
          ReceiverThread reader([&] {
            uint8_t buffer[2048];
            while (!done)
              if (bare.Receive(buffer) > 0) ++received;
          });
          reached = std::min(rate, Blast(sender, datagrams, rate));
          std::this_thread::sleep_for(kSettle);
          done = true;
        }
        lossless = received == burst;
      }
      if (!lossless) break;
      bareMax = reached;
    }
    Report(sparse ? "loss-free rate, 64 sparse universes" : "loss-free rate, 64 full universes", driverMax, bareMax,
           "datagrams/s", true);
  }
}
