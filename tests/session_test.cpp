// Console sessions end to end against the console simulator on loopback:
// the handshake, the heartbeat, acceptance and shutdown, and the host's
// reads of the port buffers.
#include "support/session_fixture.h"

namespace {

TEST_F(Session, ConnectReturnsTheConsoleOnceItAcceptsAndItsLevelsArriveByteExactInEveryUniverse) {
  DetectAutofocusSupport();  // blind: the ports report 0x201
  LoopbackSettings(1);
  auto sim = Simulator(1, true, 64);
  PDI pdi = Record(1);
  const auto start = Clock::now();
  EXPECT_EQ(Connect(&pdi), 1);
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_TRUE(echo.Contains("AddPortMap console erkannt"));
  EXPECT_EQ(GetNumPorts(1), 64);
  EXPECT_EQ(GetPortCaps(1, 0), 0x201u);
  for (int32_t port : {-1, 64})
    EXPECT_EQ((std::vector<int64_t>{GetPortCaps(1, port), GetNumChannels(1, port), LockPortBuffer(1, port)}),
              (std::vector<int64_t>{0, -1, -1}))
        << port;
  EXPECT_TRUE(Eventually([] { return GetNumChannels(1, 63) == 512; }));
  for (int u = 0; u < 64; ++u) EXPECT_TRUE(Delivered(*sim, 1, u, Pattern(static_cast<uint8_t>(u * 31)))) << u;
  // Locking twice from the host's thread nests; each lock needs its unlock,
  // and an unlock without a hold left is logged and releases nothing.
  EXPECT_EQ((std::vector<int32_t>{LockPortBuffer(1, 1), LockPortBuffer(1, 2), UnlockPortBuffer(1, 2),
                                  UnlockPortBuffer(1, 1), UnlockPortBuffer(1, 1)}),
            std::vector<int32_t>(5, 0));
  EXPECT_EQ(echo.Count("UnlockPortBuffer: buffers of 1 were not locked"), 1);
  for (uint8_t** unusable : {static_cast<uint8_t**>(nullptr), reinterpret_cast<uint8_t**>(8)})
    EXPECT_EQ(GetPortBuffer(1, 0, unusable), 512);
  EXPECT_EQ(echo.Count("GetPortBuffer: Exception while accessing DMX buffer"), 2);

  // A second connection to a connected console fails at once.
  const auto again = Clock::now();
  EXPECT_EQ(Connect(&pdi), 0xFFFF);
  EXPECT_LT(MsSince(again), 200);
  EXPECT_TRUE(echo.Contains("AddPortMap console 1 already in map"));

  Disconnect(2);  // not connected
  Disconnect(1);
  EXPECT_TRUE(echo.Contains("Error Disconnect 2"));
  EXPECT_TRUE(echo.Contains("Disconnect 1"));
  EXPECT_EQ(echo.Count("Error Disconnect"), 1);
  EXPECT_EQ(GetNumPorts(1), -1);
}

TEST_F(Session, AConsoleThatNeverAnswersFailsAfterFiveSecondsOfHeartbeatsEvery900ms) {
  LoopbackSettings(3);
  auto sim = Simulator(3, /*accept=*/false);
  PDI pdi = Record(3);
  const auto start = Clock::now();
  EXPECT_EQ(Connect(&pdi), 0xFFFF);
  EXPECT_NEAR(MsSince(start), 5950, 1050);  // 4.9 to 7 s
  EXPECT_TRUE(echo.Contains("AddPortMap nicht erkannt (WAIT_TIMEOUT)"));
  EXPECT_TRUE(echo.Contains("~PORTS() leaving destructor"));
  EXPECT_TRUE(PortMap().empty());
  const std::vector<SimControlPacket> beats = sim->ControlPackets();  // the heartbeats it ignored
  ASSERT_GE(beats.size(), 5u);
  for (const SimControlPacket& b : beats)
    EXPECT_TRUE(b.type == 1 && b.length == 556 && b.signature == 5600 && b.receiving == 0 &&
                std::memcmp(b.bytes.data(), "TVN\0PRV\0", 8) == 0)
        << ConsoleSimulator::Describe(b);
  for (size_t i = 1; i < beats.size(); ++i)  // 850 to 1200 ms apart
    EXPECT_NEAR(static_cast<double>(beats[i].atMs - beats[i - 1].atMs), 1025, 175) << i;
}

TEST_F(Session, EachSessionTakesOnlyItsOwnConsolesAcceptanceWithTheRightSignature) {
  auto one = ConnectedConsole(1);
  auto two = Simulator(2, /*accept=*/false);
  // While console 2 is asked, console 1 keeps accepting and console 2 sends
  // shutdowns: neither may reach the other's session.
  std::atomic<bool> busy{true};
  std::thread noise([&] {
    for (; busy; std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
      one->SendAccept();
      two->SendShutdown();
    }
  });
  PORTS second(2);  // asked but never accepting
  ASSERT_TRUE(two->WaitForControl(PD_HEARTBEAT, 1, 3000));
  // Console 2's own group: an acceptance (2) with another signature, the
  // other types, a short datagram.
  for (uint32_t type : {2u, 0u, 1u, 3u, 5u, 6u, 99u}) {
    PD_PACKET other(type);
    if (type == 2) other.Signature = 5601;
    two->SendRaw(&other, kPdPacketSize);
  }
  two->SendRaw("\x00\x00", 2);
  EXPECT_EQ(osWait(second.hconnect_event, 1500), kOsWaitTimeout);
  EXPECT_FALSE(second.HasSniffer());
  busy = false;
  noise.join();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(1, 0) == 512; }));

  PD_PACKET odd(PD_ACCEPT);
  std::memcpy(odd.Header.Magic, "XYZ", 4);  // only the signature and the type matter
  two->SendRaw(&odd, kPdPacketSize);
  EXPECT_EQ(osWait(second.hconnect_event, 2000), kOsWaitSignaled);
  EXPECT_TRUE(Eventually([&] { return second.HasSniffer(); }));
}

TEST_F(Session, ClearingTheMapDeletesSessionsInAscendingOrder) {
  auto s7 = ConnectedConsole(7), s2 = ConnectedConsole(2), s5 = ConnectedConsole(5);
  std::vector<std::string> expected;
  for (uint8_t console : {2, 5, 7})  // each has its state receiver's socket: its receiver runs
    expected.push_back("~PORTS() StateRcvSfd=" + std::to_string(FindPortMap(console)->StateRcvSfd.load()) + ",");
  ClearPortMap();
  EXPECT_TRUE(PortMap().empty());
  for (int i = 0, at = -1; i < 3; ++i) {
    const int next = echo.Find(expected[i], at + 1);
    EXPECT_GT(next, at) << expected[i];
    at = next;
  }
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
    while (!done)
      for (int port = 0; port < 64; ++port) reads += ReadPort(9, port).empty() ? 0 : 1;
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
