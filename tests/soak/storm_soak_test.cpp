// Three consoles that storm the driver with acceptances and shutdowns while
// they stream 64 universes each, under a host that polls every port and
// sends autofocus all the while: no level is lost once the storm ends, no
// host call is held up, and nothing is left behind.
#include <algorithm>
#include <atomic>

#include "dmx_net/COMMON/rr_packet.h"
#include "soak/soak_support.h"

namespace {

constexpr int kConsoles = 3;

// One storming console: random acceptances and shutdowns every few
// milliseconds, now and then a burst of 100 back to back, and levels that
// keep changing in random universes. Ends with an acceptance and a last
// level picture of every universe.
class Storm {
 public:
  Storm(ConsoleSimulator* sim, unsigned seed) : m_sim(sim), m_random(seed) {}

  void Run(std::chrono::steady_clock::time_point until) {
    std::vector<uint8_t> levels(512);
    while (std::chrono::steady_clock::now() < until) {
      if (m_random() % 64 == 0) {
        for (int i = 0; i < 100; ++i) Message();
      } else {
        Message();
      }
      for (uint8_t& level : levels) level = static_cast<uint8_t>(m_random());
      m_sim->SetLevels(static_cast<int>(m_random() % 64), levels.data(), /*sendNow=*/false);
      std::this_thread::sleep_for(std::chrono::milliseconds(2 + m_random() % 5));
    }
    m_sim->SendAccept();
    for (int u = 0; u < 64; ++u) m_sim->SetLevels(u, Final(u).data(), /*sendNow=*/false);
  }

  std::vector<uint8_t> Final(int universe) const {
    std::vector<uint8_t> levels(512);
    for (int c = 0; c < 512; ++c)
      levels[c] = static_cast<uint8_t>(m_sim->Options().console * 37 + universe * 11 + c * 7);
    return levels;
  }

  int Messages() const { return m_messages; }

 private:
  void Message() {
    if (m_random() % 2 == 0) {
      m_sim->SendAccept();
    } else {
      m_sim->SendShutdown();
    }
    ++m_messages;
  }

  ConsoleSimulator* m_sim;
  std::mt19937 m_random;
  int m_messages = 0;
};

// The host's side: every port of every console read as the host reads it,
// autofocus now and then, and the longest time any call took.
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
      if (round % 8 == 0) Autofocus(h);
    }
  }

  int64_t LongestCallMs() const { return m_longestUs / 1000; }

 private:
  void Autofocus(uint16_t h) {
    ChannelLevel channels[200];
    for (int i = 0; i < 200; ++i) channels[i] = ChannelLevel{static_cast<uint16_t>(i + 1), static_cast<uint8_t>(i), 0};
    SelectionItem items[70];
    for (int i = 0; i < 70; ++i) items[i] = SelectionItem{"Spot", i, 1, i & 3};
    Timed([&] {
      SendSpot(h, 0, 7);
      SendStartChannel(h, 0, 100);
      SetBlindAFChannelData(h, 0, 200, channels);
      SendBlindAFSelection(h, 70, items);
    });
  }

  template <typename Call>
  void Timed(Call call) {
    const auto start = Clock::now();
    call();
    const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    m_longestUs = std::max(m_longestUs, us);
  }

  int64_t m_longestUs = 0;
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
  std::vector<std::unique_ptr<Storm>> storms;
  std::vector<std::thread> stormThreads;
  for (int i = 0; i < kConsoles; ++i) storms.emplace_back(new Storm(sims[i].get(), 100u + static_cast<unsigned>(i)));
  for (int i = 0; i < kConsoles; ++i) stormThreads.emplace_back([&, i] { storms[i]->Run(stormEnd); });
  PollingHost host;
  int rounds = 0;
  while (Clock::now() < stormEnd) host.Round(rounds++);
  for (std::thread& t : stormThreads) t.join();
  int messages = 0;
  for (const auto& storm : storms) messages += storm->Messages();

  // Once the storm is over, every console's last picture is in its ports,
  // whatever the storm did to the receivers.
  const auto settled = Clock::now();
  const bool allArrived = Eventually(
      [&] {
        host.Round(rounds++);
        for (int i = 0; i < kConsoles; ++i)
          for (int u = 0; u < 64; ++u)
            if (ReadPort(static_cast<uint16_t>(i + 1), u) != storms[i]->Final(u)) return false;
        return true;
      },
      10000);
  EXPECT_TRUE(allArrived);
  std::printf("storm: %d control messages over %d host rounds; levels complete %lld ms after; longest call %lld ms\n",
              messages, rounds, static_cast<long long>(MsSince(settled)), static_cast<long long>(host.LongestCallMs()));
  EXPECT_LT(host.LongestCallMs(), 1000);
  for (uint16_t h = 1; h <= kConsoles; ++h) Disconnect(h);
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threadsBefore; }));
  EXPECT_EQ(RrPacketPool().InUse(), 0);
}

}  // namespace
