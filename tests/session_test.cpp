// Console sessions end to end against the console simulator on loopback:
// the handshake, the heartbeat, acceptance and shutdown, and the host's
// reads of the port buffers.
#include "support/session_fixture.h"

namespace {

TEST_F(Session, ConnectReturnsTheConsoleOnceItAccepts) {
  DetectAutofocusSupport();  // blind: the ports report 0x201
  LoopbackSettings(1);
  auto sim = Simulator(1);
  PDI pdi = Record(1);
  const auto start = Clock::now();
  EXPECT_EQ(Connect(&pdi), 1);
  EXPECT_LT(MsSince(start), 1500);
  ASSERT_NE(FindPortMap(1), nullptr);
  EXPECT_TRUE(echo.Contains("AddPortMap console erkannt"));
  EXPECT_EQ(GetNumPorts(1), 64);
  EXPECT_EQ(GetPortCaps(1, 0), 0x201u);
  EXPECT_EQ(GetPortCaps(1, 64), 0u);
  EXPECT_EQ(GetPortCaps(1, -1), 0u);
  EXPECT_EQ(GetNumChannels(1, 64), -1);
  EXPECT_EQ(GetNumChannels(1, -1), -1);
  EXPECT_EQ(LockPortBuffer(1, 64), -1);
  EXPECT_TRUE(Eventually([] { return GetNumChannels(1, 63) == 512; }));

  // A second connection to a connected console fails at once.
  const auto again = Clock::now();
  EXPECT_EQ(Connect(&pdi), 0xFFFF);
  EXPECT_LT(MsSince(again), 200);
  EXPECT_TRUE(echo.Contains("AddPortMap console 1 already in map"));
  EXPECT_EQ(PortMap().size(), 1u);

  Disconnect(1);
  EXPECT_EQ(FindPortMap(1), nullptr);
  EXPECT_TRUE(echo.Contains("Disconnect 1"));
  EXPECT_EQ(GetNumPorts(1), -1);
}

TEST_F(Session, AConsoleThatNeverAnswersFailsAfterFiveSeconds) {
  LoopbackSettings(3);
  auto sim = Simulator(3, /*accept=*/false);
  PDI pdi = Record(3);
  const auto start = Clock::now();
  EXPECT_EQ(Connect(&pdi), 0xFFFF);
  const int64_t took = MsSince(start);
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 7000);
  EXPECT_TRUE(echo.Contains("AddPortMap nicht erkannt (WAIT_TIMEOUT)"));
  EXPECT_TRUE(echo.Contains("~PORTS() leaving destructor"));
  EXPECT_TRUE(PortMap().empty());
  EXPECT_GE(sim->ControlPackets().size(), 5u);  // the heartbeats it ignored
}

TEST_F(Session, HeartbeatsEvery900msReportWhetherTheReceiverRuns) {
  LoopbackSettings(4);
  auto sim = Simulator(4, /*accept=*/false);
  {
    PORTS session(4);
    ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 3, 4000));
    sim->SendAccept();
    ASSERT_TRUE(Eventually([&] { return session.HasSniffer(); }));
    ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 6, 5000));
  }
  std::vector<SimControlPacket> beats;
  for (const SimControlPacket& p : sim->ControlPackets())
    if (p.type == PD_HEARTBEAT) beats.push_back(p);
  ASSERT_GE(beats.size(), 6u);
  for (size_t i = 0; i < beats.size(); ++i) {
    EXPECT_EQ(beats[i].length, 556);
    EXPECT_EQ(beats[i].signature, 5600u);
    EXPECT_EQ(std::memcmp(beats[i].bytes.data(), "TVN\0PRV\0", 8), 0);
    if (i > 0) {
      const uint64_t gap = beats[i].atMs - beats[i - 1].atMs;
      EXPECT_GE(gap, 850u);
      EXPECT_LE(gap, 1200u);
    }
  }
  EXPECT_EQ(beats[0].receiving, 0u);
  EXPECT_EQ(beats[2].receiving, 0u);
  EXPECT_EQ(beats.back().receiving, 1u);
}

TEST_F(Session, OnlyTheRightSignatureCountsAndOtherTypesAreIgnored) {
  LoopbackSettings(5);
  auto sim = Simulator(5, /*accept=*/false);
  PORTS session(5);
  ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 1, 3000));
  PD_PACKET forged(PD_ACCEPT);
  forged.Signature = 5601;
  sim->SendRaw(&forged, kPdPacketSize);
  for (uint32_t type : {0u, 1u, 3u, 5u, 6u, 99u}) {
    PD_PACKET other(type);
    sim->SendRaw(&other, kPdPacketSize);
  }
  sim->SendRaw("\x00\x00", 2);
  EXPECT_EQ(osWait(session.hconnect_event, 300), kOsWaitTimeout);
  EXPECT_FALSE(session.HasSniffer());

  PD_PACKET odd(PD_ACCEPT);
  std::memcpy(odd.Header.Magic, "XYZ", 4);  // only the signature and the type matter
  sim->SendRaw(&odd, kPdPacketSize);
  EXPECT_EQ(osWait(session.hconnect_event, 2000), kOsWaitSignaled);
  EXPECT_TRUE(Eventually([&] { return session.HasSniffer(); }));
}

TEST_F(Session, ShutdownTakesTheBuffersAwayAndAcceptanceBringsThemBack) {
  LoopbackSettings(6);
  auto sim = Simulator(6);
  PDI pdi = Record(6);
  ASSERT_EQ(Connect(&pdi), 6);
  ASSERT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 512; }));

  std::vector<uint8_t> levels = Pattern(7);
  EXPECT_TRUE(Delivered(*sim, 6, 0, levels));
  uint8_t* kept = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &kept), 512);

  sim->SendShutdown();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 0; }));
  EXPECT_EQ(LockPortBuffer(6, 0), -1);
  EXPECT_EQ(UnlockPortBuffer(6, 0), -1);
  uint8_t* untouched = levels.data();
  EXPECT_EQ(GetPortBuffer(6, 0, &untouched), 0);
  EXPECT_EQ(untouched, levels.data());
  EXPECT_EQ(GetNumPorts(6), 64);  // the session stays
  EXPECT_TRUE(echo.Contains("RECEIVED PD_SHUTDOWN"));
  // The address the host kept is memory the session still owns (ASan
  // watches), cleared once the receiver has gone; read under the banks'
  // lock, as the clear takes it.
  RESOURCE& banks = FindPortMap(6)->Levels().Guard();
  EXPECT_TRUE(Eventually([&] {
    RESOURCE_LOCK hold(&banks, nullptr);
    return AllZero(kept);
  }));

  sim->SendAccept();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 512; }));
  uint8_t* now = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &now), 512);
  EXPECT_EQ(now, kept);
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(9)));
  EXPECT_EQ(std::vector<uint8_t>(kept, kept + 512), Pattern(9));
}

TEST_F(Session, LevelsArriveByteExactInEveryUniverse) {
  LoopbackSettings(8);
  auto sim = Simulator(8, true, 64);
  PDI pdi = Record(8);
  ASSERT_EQ(Connect(&pdi), 8);
  ASSERT_TRUE(Eventually([] { return GetNumChannels(8, 0) == 512; }));
  for (int u = 0; u < 64; ++u) {
    std::vector<uint8_t> levels(512);
    for (int c = 0; c < 512; ++c) levels[c] = static_cast<uint8_t>((u * 31 + c * 7) & 0xFF);
    EXPECT_TRUE(Delivered(*sim, 8, u, levels)) << "universe " << u;
  }
  // Locking twice from the host's thread nests; each lock needs its unlock.
  EXPECT_EQ(LockPortBuffer(8, 1), 0);
  EXPECT_EQ(LockPortBuffer(8, 2), 0);
  EXPECT_EQ(UnlockPortBuffer(8, 2), 0);
  EXPECT_EQ(UnlockPortBuffer(8, 1), 0);
  EXPECT_EQ(UnlockPortBuffer(8, 1), 0);  // no hold left: logged, nothing released
  EXPECT_TRUE(echo.Contains("UnlockPortBuffer: buffers of 8 were not locked"));
  for (uint8_t** unusable : {static_cast<uint8_t**>(nullptr), reinterpret_cast<uint8_t**>(8)})
    EXPECT_EQ(GetPortBuffer(8, 0, unusable), 512);
  EXPECT_EQ(echo.Count("GetPortBuffer: Exception while accessing DMX buffer"), 2);
}

TEST_F(Session, EachSessionHearsOnlyItsOwnConsole) {
  LoopbackSettings(1, 2);
  auto one = Simulator(1);
  auto two = Simulator(2, /*accept=*/false);
  PDI pdi1 = Record(1);
  ASSERT_EQ(Connect(&pdi1), 1);
  ASSERT_TRUE(Eventually([] { return GetNumChannels(1, 0) == 512; }));
  // While console 2 is asked, console 1 keeps accepting and console 2 sends
  // shutdowns: neither may reach the other's session.
  std::atomic<bool> busy{true};
  std::thread noise([&] {
    while (busy) {
      one->SendAccept();
      two->SendShutdown();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  {
    PORTS second(2);  // asked but never accepting
    EXPECT_EQ(osWait(second.hconnect_event, 1500), kOsWaitTimeout);
    EXPECT_FALSE(second.HasSniffer());
  }
  busy = false;
  noise.join();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(1, 0) == 512; }));
}

TEST_F(Session, ClearingTheMapDeletesSessionsInAscendingOrder) {
  LoopbackSettings(7, 2, 5);
  auto s7 = Simulator(7);
  auto s2 = Simulator(2);
  auto s5 = Simulator(5);
  std::vector<std::string> expected;
  for (uint8_t console : {7, 2, 5}) {
    PDI pdi = Record(console);
    ASSERT_EQ(Connect(&pdi), console);
  }
  for (uint8_t console : {2, 5, 7}) {
    ASSERT_TRUE(Eventually([&] { return FindPortMap(console)->StateRcvSfd != 0; }));
    expected.push_back("~PORTS() StateRcvSfd=" + std::to_string(FindPortMap(console)->StateRcvSfd.load()) + ",");
  }
  ClearPortMap();
  EXPECT_TRUE(PortMap().empty());
  const int first = echo.Find(expected[0]);
  const int second = echo.Find(expected[1], first + 1);
  const int third = echo.Find(expected[2], second + 1);
  EXPECT_GE(first, 0);
  EXPECT_GT(second, first);
  EXPECT_GT(third, second);
}

TEST_F(Session, TheHostReadsCleanlyWhileTheConsoleShutsDownAndAcceptsAgain) {
  LoopbackSettings(9);
  auto sim = Simulator(9, true, 4, 200, SimPattern::Fade);
  std::atomic<bool> connected{false}, done{false};
  std::atomic<long> reads{0};
  // The host: one thread calls every export, as Previsa does.
  std::thread host([&] {
    PDI pdi = Record(9);
    connected = Connect(&pdi) == 9;
    while (!done) {
      for (int port = 0; port < 64; ++port) {
        if (LockPortBuffer(9, port) != 0) continue;
        uint8_t* buffer = nullptr;
        if (GetPortBuffer(9, port, &buffer) == 512 && buffer != nullptr) {
          volatile unsigned sum = 0;
          for (int c = 0; c < 512; ++c) sum = sum + buffer[c];
          ++reads;
        }
        UnlockPortBuffer(9, port);
      }
    }
    Disconnect(9);
  });
  ASSERT_TRUE(Eventually([&] { return connected.load(); }, 6000));
  for (int cycle = 0; cycle < 40; ++cycle) {
    sim->SendShutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    sim->SendAccept();
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 10 == 0 ? 150 : 25));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  done = true;
  host.join();
  EXPECT_GT(reads.load(), 500);
  EXPECT_GT(echo.Count("RECEIVED PD_SHUTDOWN"), 0);
}

}  // namespace
