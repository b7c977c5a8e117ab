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

// The first three consoles configured, all eight storming. The test loads
// the library itself: of the fixture it takes the registry and the waits.
class UnloadStorm : public Session {
 protected:
  UnloadStorm() {
    registry.Setting("ip", "127.0.0.1");
    for (int i = 0; i < 3; ++i) registry.Setting("Trivane" + std::to_string(i + 1), kConsoles[i]);
    for (uint32_t console : kConsoles) m_sims.push_back(SoakConsole(console, 4, 40));
    m_storm = std::thread([this] {
      std::mt19937 random(7);
      while (m_running) {
        for (auto& sim : m_sims) random() % 8 == 0 ? sim->SendShutdown() : sim->SendAccept();
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % 4));
      }
    });
  }
  ~UnloadStorm() override {
    m_running = false;
    m_storm.join();
  }

  std::vector<std::unique_ptr<ConsoleSimulator>> m_sims;
  std::atomic<bool> m_running{true};
  std::thread m_storm;
};

TEST_F(UnloadStorm, UnloadsAtRandomMomentsReturnPromptlyAndLeaveNoThread) {
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
      PDI pdi = Record(static_cast<uint8_t>(kConsoles[i]));
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
    ASSERT_TRUE(baseline <= 0 || Eventually([&] { return ThreadCount() == baseline; }, 2000))
        << "cycle " << cycle << ": " << ThreadCount() - baseline << " threads of the library left";
  }
  std::printf("%d unloads of %d sessions, the slowest %lld ms\n", cycles, connected, static_cast<long long>(slowest));
  EXPECT_GT(connected, cycles);
}

TEST_F(UnloadStorm, HostsThatEndTheirProcessWithoutDisconnectEndPromptly) {
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
