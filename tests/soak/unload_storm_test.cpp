// Hosts that end without Disconnect at the worst moment: eight consoles
// answer every heartbeat and storm the driver with acceptances (and now and
// then a shutdown) every few milliseconds, so that receivers are being
// started all the time, while a host unloads the library (or ends its
// process) at random moments. Every unload returns within 2 s, nothing
// crashes, and no thread of the library is left afterwards.
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <random>

#include "soak/soak_support.h"
#include "tools/driver_api.h"

namespace {

constexpr uint32_t kConsoles[] = {21, 22, 23, 24, 25, 26, 27, 28};

class StormingConsoles {
 public:
  StormingConsoles() {
    for (uint32_t console : kConsoles) {
      SimOptions options;
      options.console = console;
      options.universes = 4;
      options.rateHz = 40;
      options.acceptIntervalMs = 0;  // every heartbeat is answered
      options.keepPackets = false;
      m_sims.emplace_back(new ConsoleSimulator(options));
      std::string error;
      EXPECT_TRUE(m_sims.back()->Start(&error)) << error;
    }
    m_storm = std::thread([this] {
      std::mt19937 random(7);
      while (m_running) {
        for (auto& sim : m_sims) {
          if (random() % 8 == 0) sim->SendShutdown(); else sim->SendAccept();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % 4));
      }
    });
  }
  ~StormingConsoles() {
    m_running = false;
    m_storm.join();
  }

 private:
  std::vector<std::unique_ptr<ConsoleSimulator>> m_sims;
  std::atomic<bool> m_running{true};
  std::thread m_storm;
};

void Configure(TestRegistry& registry) {
  registry.Setting("ip", "127.0.0.1");
  for (int i = 0; i < 3; ++i) registry.Setting(("Trivane" + std::to_string(i + 1)).c_str(), kConsoles[i]);
}

TEST(UnloadStorm, UnloadsAtRandomMomentsReturnPromptlyAndLeaveNoThread) {
  TestRegistry registry;
  Configure(registry);
  StormingConsoles storm;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int baseline = ThreadCount();
  std::mt19937 random(2026);
  const int cycles = Scaled(200, 200);
  int64_t slowest = 0;
  int connected = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    DriverApi api;
    std::string error;
    ASSERT_TRUE(api.Load(PV_LIBRARY_PATH, &error)) << error;
    api.Init();
    // One to eight consoles (the host names a console by its record's
    // first data byte), then an unload at any moment: during an
    // acceptance, a receiver's start, a shutdown.
    for (int i = 0; i <= cycle % 8; ++i) {
      PDI pdi;
      std::memset(&pdi, 0, sizeof pdi);
      pdi.Data[0] = static_cast<uint8_t>(kConsoles[i]);
      connected += api.Connect(&pdi) != 0xFFFF ? 1 : 0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
    // A hang must fail the test, not stall it: the whole program ends.
    std::promise<void> returned;
    auto watchdog = std::async(std::launch::async, [unloaded = returned.get_future()] {
      if (unloaded.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return;
      std::fprintf(stderr, "an unload has not returned after 30 s\n");
      EndThisProcessNow(3);
    });
    const auto start = Clock::now();
    api.Unload();
    const int64_t ms = MsSince(start);
    returned.set_value();
    slowest = std::max(slowest, ms);
    ASSERT_LT(ms, 2000) << "unload " << cycle << " took " << ms << " ms";
    if (baseline > 0) {
      const auto until = Clock::now() + std::chrono::seconds(2);
      while (ThreadCount() != baseline && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(ThreadCount(), baseline) << "cycle " << cycle << ": threads of the library left";
    }
  }
  std::printf("%d unloads of %d sessions, the slowest %lld ms\n", cycles, connected, static_cast<long long>(slowest));
  EXPECT_GT(connected, cycles);
}

TEST(UnloadStorm, HostsThatEndTheirProcessWithoutDisconnectEndPromptly) {
  TestRegistry registry;
  Configure(registry);
  StormingConsoles storm;
  std::mt19937 random(31);
  for (int run = 0; run < Scaled(20, 10); ++run) {
    const std::string delay = std::to_string(random() % 80);
    const auto start = Clock::now();
    const int code = RunProgram(PV_UNLOAD_HOST, std::string("\"") + PV_LIBRARY_PATH + "\" " + delay, 20000);
    EXPECT_EQ(code, 0) << "run " << run << " (" << delay << " ms)";
    EXPECT_LT(MsSince(start), 10000) << "run " << run;
  }
}

}  // namespace
