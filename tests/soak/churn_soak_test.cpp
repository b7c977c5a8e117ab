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

TEST_F(Session, FiveHundredConnectionsLeaveMemoryDescriptorsAndThreadsFlat) {
  LoopbackSettings(1, 2, 3);
  const std::unique_ptr<ConsoleSimulator> consoles[] = {
      SoakConsole(1, 2, 20), SoakConsole(2, 2, 20, kJustInTimeMs), SoakConsole(3, 2, 20, kTooLateMs),
      SoakConsole(4, 2, 20, 0, /*accepts=*/false)};
  PDI pdi = Record(1);
  const int threads = ThreadCount();  // the test's and the consoles'

  // A few cycles first, so that the allocator and the thread stacks have
  // settled before the footprint is taken.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(Connect(&pdi), 1);
    Disconnect(1);
  }
  const int64_t rssBefore = ResidentBytes();
  const int descriptorsBefore = OpenDescriptors();
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
    if (cycle % 100 == 10) late += AddPortMap(2, kWaitMs) == 2 ? 1 : 0;
    if (cycle % 100 == 10) RemovePortMap(2);
    if (cycle % 100 == 20) missed += AddPortMap(3, kWaitMs) == 0xFFFF ? 1 : 0;
    if (cycle % 100 == 30) silentFailed += AddPortMap(4, kWaitMs) == 0xFFFF ? 1 : 0;
  }
  const int64_t tookMs = MsSince(start);
  EXPECT_EQ(connected, cycles);
  EXPECT_EQ(late, (cycles + 89) / 100);
  EXPECT_EQ(missed, (cycles + 79) / 100);
  EXPECT_EQ(silentFailed, (cycles + 69) / 100);
  EXPECT_TRUE(PortMap().empty());

  const int64_t rssAfter = ResidentBytes();
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads && OpenDescriptors() == descriptorsBefore; }));
  EXPECT_TRUE(!MemoryIsTheDrivers() || rssAfter - rssBefore < kFlatRssBytes) << rssAfter - rssBefore;
  EXPECT_EQ(RrPacketPool().InUse(), 0);
  std::printf("churn: %d cycles in %lld ms; longest Disconnect %lld ms; RSS %lld -> %lld KiB\n", cycles,
              static_cast<long long>(tookMs), static_cast<long long>(longestDisconnectMs),
              static_cast<long long>(rssBefore / 1024), static_cast<long long>(rssAfter / 1024));
}

}  // namespace
