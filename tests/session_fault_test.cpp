// Sessions on a bad day: a host that keeps the buffers locked, a console
// that shuts down and accepts under it, sessions destroyed in the middle of
// an acceptance, a system that refuses events, a socket whose waits fail.
#include <ctime>

#include "support/platform.h"
#include "support/session_fixture.h"
#include "tvnLib/ctask.h"

namespace {

TEST_F(Session, AHostThatKeepsTheBuffersLockedNeverStopsTheControlDialogue) {
  LoopbackSettings(6);
  auto sim = Simulator(6);
  PDI pdi = Record(6);
  ASSERT_EQ(Connect(&pdi), 6);
  ASSERT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 512; }));
  ASSERT_TRUE(Delivered(*sim, 6, 0, Pattern(1)));

  // The host takes the buffers and does not give them back.
  ASSERT_EQ(LockPortBuffer(6, 0), 0);
  uint8_t* held = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &held), 512);
  ASSERT_NE(held, nullptr);

  // Shutdown and acceptance are still handled, and the heartbeat says so.
  sim->SendShutdown();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 0; }));
  EXPECT_TRUE(Eventually([&] { return LastReceiving(*sim) == 0; }, 3000));
  EXPECT_TRUE(Eventually([&] { return echo.Contains("StopSniffer: the host holds the buffers of 6"); }));
  sim->SendAccept();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 512; }));
  EXPECT_TRUE(Eventually([&] { return LastReceiving(*sim) == 1; }, 3000));

  // The clear that had to wait is done when the host lets go: the new
  // receiver's levels start at 0 at the address the host already has.
  EXPECT_EQ(UnlockPortBuffer(6, 0), 0);
  EXPECT_TRUE(AllZero(held));
  uint8_t* again = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &again), 512);
  EXPECT_EQ(again, held);
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(2)));

  // A Disconnect while the host still holds the buffers ends promptly.
  ASSERT_EQ(LockPortBuffer(6, 0), 0);
  const auto start = Clock::now();
  Disconnect(6);
  EXPECT_LT(MsSince(start), 2500);
  EXPECT_EQ(FindPortMap(6), nullptr);
}

TEST_F(Session, ASessionDestroyedDuringAnAcceptanceEndsPromptlyAndKeepsNoReceiver) {
  LoopbackSettings(5);
  auto sim = Simulator(5, /*accept=*/false);
  for (int cycle = 0; cycle < 12; ++cycle) {
    PORTS* session = new PORTS(5);
    ASSERT_TRUE(Eventually([&] { return session->StateRcvSfd != 0; }));
    sim->SendAccept();
    // Across the acceptance: before, during and after the 100 ms pause and
    // the receiver's start.
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle * 15));
    const auto start = Clock::now();
    delete session;
    EXPECT_LT(MsSince(start), 2000) << "cycle " << cycle;
    EXPECT_EQ(pAllTasks, nullptr) << "a receiver outlived its session, cycle " << cycle;
  }
  // A stopping heartbeat sender ends without an error line.
  EXPECT_EQ(echo.Count("sendto error"), 0);
}

TEST_F(Session, AShutdownWithoutAReceiverOnlyLogs) {
  LoopbackSettings(31);
  auto sim = Simulator(31, /*accept=*/false);  // the highest group, 236.3.3.31
  PORTS session(31);
  ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 1, 3000));
  const size_t before = echo.Messages().size();
  // The heartbeat may go out before the state receiver has joined its
  // group: the console says it again until it is heard.
  ASSERT_TRUE(Eventually([&] {
    sim->SendShutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return echo.Contains("RECEIVED PD_SHUTDOWN");
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Nothing but the log line, once per shutdown heard.
  EXPECT_EQ(echo.Messages().size(), before + static_cast<size_t>(echo.Count("RECEIVED PD_SHUTDOWN")));
  EXPECT_FALSE(session.HasSniffer());
  EXPECT_EQ(LastReceiving(*sim), 0);
}

TEST_F(Session, AfterABurstOfAcceptancesTheLastMessageStandsAtOnce) {
  LoopbackSettings(8);
  auto sim = Simulator(8, /*accept=*/false);
  PORTS session(8);
  ASSERT_TRUE(Eventually([&] {
    sim->SendAccept();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return session.HasSniffer();
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int started = echo.Count("DMX SNIFFER joining");
  // A console that repeats itself 100 times, then shuts down: the driver
  // follows its last word, not each of the hundred with a receiver of its
  // own, and nothing it says is lost on the way.
  for (int i = 0; i < 100; ++i) sim->SendAccept();
  sim->SendShutdown();
  const auto start = Clock::now();
  EXPECT_TRUE(Eventually([&] { return !session.HasSniffer() && echo.Contains("RECEIVED PD_SHUTDOWN"); }, 5000));
  EXPECT_LT(MsSince(start), 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(session.HasSniffer());
  EXPECT_LE(echo.Count("DMX SNIFFER joining") - started, 2);
}

TEST_F(Session, ASessionWhoseEventsAreRefusedFailsItsConnectAtOnce) {
  LoopbackSettings(2);
  auto sim = Simulator(2);
  PDI pdi = Record(2);
  for (int refused : {1, 2, 4, 5}) {
    // The session's creations in order: stop event, life lock, level lock,
    // connect event, send lock. Refusing the first n reaches each check.
    osRefuseCreations(refused);
    const auto start = Clock::now();
    EXPECT_EQ(Connect(&pdi), 0xFFFF) << refused;
    osRefuseCreations(0);
    EXPECT_LT(MsSince(start), 1000) << refused;
  }
  EXPECT_TRUE(echo.Contains("PORTS 2: couldn't create the session's events and locks"));
  EXPECT_TRUE(echo.Contains("AddPortMap nicht erkannt (session not set up)"));
  EXPECT_TRUE(sim->ControlPackets().empty());  // no thread ever ran
  EXPECT_EQ(Connect(&pdi), 2);                   // and nothing is left behind
}

TEST_F(Session, ControlThreadsThatCannotOpenTheirSocketsEndWithMinusOneAndSendNothing) {
  LoopbackSettings(9);
  auto sim = Simulator(9, /*accept=*/false);
  if (!RefuseNewDescriptors()) GTEST_SKIP() << "the platform cannot refuse new sockets";
  PORTS session(9);
  const bool ended = Eventually([&] { return session.StateRcvExit == -1 && session.HeartbeatExit == -1; });
  RestoreOpenFiles();
  ASSERT_TRUE(ended);
  EXPECT_TRUE(echo.Contains("Couldn't open socket\nfor state receiver! (errno 24)"));
  EXPECT_TRUE(echo.Contains("Couldn't open socket\nfor heartbeat sender! (errno 24)"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_TRUE(sim->ControlPackets().empty());
}

// Processor time of the whole test program (POSIX), in milliseconds.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

TEST_F(Session, AWaitThatFailsAtOnceIsReportedOnceAndNeverSpins) {
  LoopbackSettings(7);
  PORTS session(7);  // no console: nothing else in the process waits
  ASSERT_TRUE(Eventually([&] { return session.StateRcvSfd != 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // past its set-up
  if (!FailSocketWaits()) GTEST_SKIP() << "socket waits cannot be made to fail here";
  // The wait under way ends at its 2 s limit; every later one fails at once.
  const bool reported = Eventually([&] { return echo.Contains("StateRcv: SelectRead Error (errno=="); }, 3000);
  const double cpuBefore = CpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double cpu = CpuMs() - cpuBefore;
  RestoreSocketWaits();
  EXPECT_TRUE(reported);
  EXPECT_EQ(echo.Count("StateRcv: SelectRead Error (errno=="), 1);
  EXPECT_LT(cpu, 400.0) << "the state receiver spins on its failed wait";
}

}  // namespace
