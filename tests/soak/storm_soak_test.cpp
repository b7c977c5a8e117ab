// Three consoles that storm the driver with acceptances and shutdowns while
// they stream 64 universes each, under a host that polls every port and
// sends autofocus all the while: no level is lost once the storm ends, no
// host call is held up, and nothing is left behind.
#include <algorithm>
#include <atomic>
#include <numeric>

#include "dmx_net/COMMON/rr_packet.h"
#include "soak/soak_support.h"

namespace {

constexpr int kConsoles = 3;

// The levels console `console` ends the storm with in `universe`.
std::vector<uint8_t> Final(uint32_t console, int universe) {
  std::vector<uint8_t> levels(512);
  for (int c = 0; c < 512; ++c) levels[c] = static_cast<uint8_t>(console * 37 + universe * 11 + c * 7);
  return levels;
}

// One storming console until `until`: random acceptances and shutdowns
// every few milliseconds, now and then a burst of 100 back to back, and
// levels that keep changing in random universes. Ends with an acceptance
// and its final levels in every universe; returns the messages it sent.
int Storm(ConsoleSimulator& sim, unsigned seed, Clock::time_point until) {
  std::mt19937 random(seed);
  std::vector<uint8_t> levels(512);
  int messages = 0;
  while (Clock::now() < until) {
    for (int burst = random() % 64 == 0 ? 100 : 1; burst > 0; --burst, ++messages)
      random() % 2 == 0 ? sim.SendAccept() : sim.SendShutdown();
    for (uint8_t& level : levels) level = static_cast<uint8_t>(random());
    sim.SetLevels(static_cast<int>(random() % 64), levels.data(), /*sendNow=*/false);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + random() % 5));
  }
  sim.SendAccept();
  for (int u = 0; u < 64; ++u) sim.SetLevels(u, Final(sim.Options().console, u).data(), /*sendNow=*/false);
  return messages;
}

// The host's side: every port of every console read as the host reads it,
// autofocus now and then, and the longest time one call (or one autofocus)
// took.
class PollingHost {
 public:
  void Round(int round) {
    for (uint16_t h = 1; h <= kConsoles; ++h) {
      for (int port = 0; port < 64; ++port) {
        Timed([&] { GetNumChannels(h, port); });
        int locked = -1;
        Timed([&] { locked = LockPortBuffer(h, port); });
        if (locked != 0) continue;
        uint8_t* buffer = nullptr;
        if (GetPortBuffer(h, port, &buffer) == 512 && buffer != nullptr)
          for (int c = 0; c < 512; ++c) m_sum += buffer[c];
        Timed([&] { UnlockPortBuffer(h, port); });
      }
      if (round % 8 == 0) Timed([&] { Autofocus(h); });
    }
  }

  int64_t LongestCallMs() const { return m_longestMs; }

 private:
  static void Autofocus(uint16_t h) {
    ChannelLevel channels[200];
    for (int i = 0; i < 200; ++i) channels[i] = ChannelLevel{static_cast<uint16_t>(i + 1), static_cast<uint8_t>(i), 0};
    SelectionItem items[70];
    for (int i = 0; i < 70; ++i) items[i] = SelectionItem{"Spot", i, 1, i & 3};
    SendSpot(h, 0, 7);
    SendStartChannel(h, 0, 100);
    SetBlindAFChannelData(h, 0, 200, channels);
    SendBlindAFSelection(h, 70, items);
  }

  template <typename Call>
  void Timed(Call call) {
    const auto start = Clock::now();
    call();
    m_longestMs = std::max(m_longestMs, MsSince(start));
  }

  int64_t m_longestMs = 0;
  uint64_t m_sum = 0;
};

TEST_F(Session, ThreeStormingConsolesLoseNoLevelAndLeaveNothingBehind) {
  DetectAutofocusSupport();  // blind autofocus
  LoopbackSettings(1, 2, 3);
  std::unique_ptr<ConsoleSimulator> sims[kConsoles];
  for (int i = 0; i < kConsoles; ++i) {
    SimOptions options;
    options.console = static_cast<uint32_t>(i + 1);
    options.universes = 64;
    options.rateHz = 44;
    options.pattern = SimPattern::Static;
    options.changedOnly = i == 2;  // one console sends only its changes
    options.acceptIntervalMs = 500;
    sims[i].reset(new ConsoleSimulator(options));
    std::string error;
    ASSERT_TRUE(sims[i]->Start(&error)) << error;
  }
  const int threadsBefore = ThreadCount();  // the test's and the consoles'
  for (int i = 0; i < kConsoles; ++i) {
    PDI pdi = Record(static_cast<uint8_t>(i + 1));
    ASSERT_EQ(Connect(&pdi), i + 1);
  }

  const auto stormEnd = Clock::now() + std::chrono::milliseconds(Scaled(6000, 3000));
  std::vector<std::thread> stormThreads;
  int messages[kConsoles] = {};
  for (int i = 0; i < kConsoles; ++i)
    stormThreads.emplace_back([&, i] { messages[i] = Storm(*sims[i], 100u + static_cast<unsigned>(i), stormEnd); });
  PollingHost host;
  int rounds = 0;
  while (Clock::now() < stormEnd) host.Round(rounds++);
  for (std::thread& t : stormThreads) t.join();

  // Once the storm is over, every console's last picture is in its ports,
  // whatever the storm did to the receivers.
  const auto settled = Clock::now();
  EXPECT_TRUE(Eventually(
      [&] {
        host.Round(rounds++);
        for (int i = 0; i < kConsoles; ++i)
          for (int u = 0; u < 64; ++u)
            if (ReadPort(static_cast<uint16_t>(i + 1), u) != Final(static_cast<uint32_t>(i + 1), u)) return false;
        return true;
      },
      10000));
  std::printf("storm: %d control messages over %d host rounds; levels complete %lld ms after; longest call %lld ms\n",
              std::accumulate(messages, messages + kConsoles, 0), rounds, static_cast<long long>(MsSince(settled)),
              static_cast<long long>(host.LongestCallMs()));
  EXPECT_LT(host.LongestCallMs(), 1000);
  for (uint16_t h = 1; h <= kConsoles; ++h) Disconnect(h);
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threadsBefore; }));
  EXPECT_EQ(RrPacketPool().InUse(), 0);
}

}  // namespace
