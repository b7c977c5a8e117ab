// A host that connects and disconnects over and over: consoles that accept
// at once, just in time, just too late, or never. Memory, descriptors and
// threads stay flat.
#include "dmx_net/COMMON/rr_packet.h"
#include "soak/soak_support.h"

namespace {

// The short handshake wait of these cycles, and the consoles' answers on
// either side of it.
constexpr uint32_t kWaitMs = 400;
constexpr int kJustInTimeMs = 250;
constexpr int kTooLateMs = 550;

std::unique_ptr<ConsoleSimulator> Console(uint32_t console, int acceptDelayMs, bool accepts = true) {
  SimOptions options;
  options.console = console;
  options.rateHz = 20;
  options.universes = 2;
  options.acceptDelayMs = acceptDelayMs;
  options.acceptIntervalMs = 0;
  options.neverAccept = !accepts;
  options.keepPackets = false;  // the test's own memory stays flat too
  std::unique_ptr<ConsoleSimulator> sim(new ConsoleSimulator(options));
  std::string error;
  EXPECT_TRUE(sim->Start(&error)) << error;
  return sim;
}

struct Footprint {
  int64_t rss = ResidentBytes();
  int descriptors = OpenDescriptors();
};

TEST_F(Session, FiveHundredConnectionsLeaveMemoryDescriptorsAndThreadsFlat) {
  LoopbackSettings(1, 2, 3);
  auto prompt = Console(1, 0);
  auto justInTime = Console(2, kJustInTimeMs);
  auto tooLate = Console(3, kTooLateMs);
  auto silent = Console(4, 0, /*accepts=*/false);
  PDI pdi = Record(1);
  const int threads = ThreadCount();  // the test's and the consoles'

  // A few cycles first, so that the allocator and the thread stacks have
  // settled before the footprint is taken.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Connect(&pdi), 1);
    Disconnect(1);
  }
  const Footprint before;
  const int cycles = Scaled(500, 50);
  int connected = 0, late = 0, missed = 0, silentFailed = 0;
  int64_t longestDisconnectMs = 0;
  const auto start = Clock::now();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (Connect(&pdi) == 1) ++connected;
    // Levels arrive in some cycles before the disconnect, not in others.
    if (cycle % 5 == 0) Eventually([] { return GetNumChannels(1, 0) == 512; }, 500);
    const auto disconnectStart = Clock::now();
    Disconnect(1);
    longestDisconnectMs = std::max(longestDisconnectMs, MsSince(disconnectStart));
    switch (cycle % 100) {
      case 10:
        if (AddPortMap(2, kWaitMs) == 2) ++late;
        RemovePortMap(2);
        break;
      case 20:
        if (AddPortMap(3, kWaitMs) == 0xFFFF) ++missed;
        break;
      case 30:
        if (AddPortMap(4, kWaitMs) == 0xFFFF) ++silentFailed;
        break;
      default:
        break;
    }
  }
  const int64_t tookMs = MsSince(start);
  EXPECT_EQ(connected, cycles);
  EXPECT_EQ(late, (cycles + 89) / 100);
  EXPECT_EQ(missed, (cycles + 79) / 100);
  EXPECT_EQ(silentFailed, (cycles + 69) / 100);
  EXPECT_TRUE(PortMap().empty());

  const Footprint after;
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads && OpenDescriptors() == before.descriptors; }));
  EXPECT_TRUE(!MemoryIsTheDrivers() || after.rss - before.rss < kFlatRssBytes) << after.rss - before.rss;
  EXPECT_EQ(RrPacketPool().InUse(), 0);
  std::printf("churn: %d cycles in %lld ms; longest Disconnect %lld ms; RSS %lld -> %lld KiB\n", cycles,
              static_cast<long long>(tookMs), static_cast<long long>(longestDisconnectMs),
              static_cast<long long>(before.rss / 1024), static_cast<long long>(after.rss / 1024));
}

}  // namespace
