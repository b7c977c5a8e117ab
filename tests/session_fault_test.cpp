// Sessions on a bad day: a host that keeps the buffers locked, a console
// that shuts down and accepts under it, sessions destroyed in the middle of
// an acceptance, a system that refuses events, a socket whose waits fail,
// threads stuck at the worst places and ended by force.
#include "support/platform.h"
#include "support/session_fixture.h"
#include "tvnLib/ctask.h"
#include "tvnLib/fault_points.h"

namespace {

TEST_F(Session, ShutdownTakesTheBuffersAwayAndAcceptanceBringsThemBackEvenWhileTheHostHoldsThem) {
  auto sim = ConnectedConsole(6);
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(7)));
  uint8_t* kept = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &kept), 512);

  sim->SendShutdown();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 0; }));
  // No buffers to lock or read (and the out pointer untouched); the session stays.
  uint8_t* untouched = nullptr;
  EXPECT_EQ((std::vector<int32_t>{LockPortBuffer(6, 0), UnlockPortBuffer(6, 0), GetPortBuffer(6, 0, &untouched),
                                  GetNumPorts(6)}),
            (std::vector<int32_t>{-1, -1, 0, 64}));
  EXPECT_EQ(untouched, nullptr);
  // The address the host kept is memory the session still owns (ASan
  // watches), cleared once the receiver has gone; read under the banks'
  // lock, as the clear takes it.
  RESOURCE& banks = FindPortMap(6)->Levels().Guard();
  EXPECT_TRUE(Eventually([&] {
    RESOURCE_LOCK hold(&banks, nullptr);
    return AllZero(kept);
  }));
  EXPECT_FALSE(echo.Contains("StopSniffer: the host holds the buffers"));  // it did not
  sim->SendAccept();
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 512; }));
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(9)));

  // The host takes the buffers, at the address it kept, and does not give
  // them back: shutdown and acceptance are still handled, and the
  // heartbeat says so.
  ASSERT_EQ(LockPortBuffer(6, 0), 0);
  uint8_t* now = nullptr;
  ASSERT_EQ(GetPortBuffer(6, 0, &now), 512);
  EXPECT_EQ(now, kept);
  sim->SendShutdown();
  EXPECT_TRUE(Eventually([&] { return GetNumChannels(6, 0) == 0 && LastReceiving(*sim) == 0; }));
  EXPECT_TRUE(Eventually([&] { return echo.Contains("StopSniffer: the host holds the buffers of 6"); }));
  sim->SendAccept();
  EXPECT_TRUE(Eventually([&] { return GetNumChannels(6, 0) == 512 && LastReceiving(*sim) == 1; }));
  // The clear that had to wait is done when the host lets go: the new
  // receiver's levels start at 0 at the address the host already has.
  EXPECT_EQ(UnlockPortBuffer(6, 0), 0);
  EXPECT_TRUE(AllZero(kept));
  ASSERT_EQ(GetPortBuffer(6, 0, &now), 512);
  EXPECT_EQ(now, kept);
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(2)));

  // A Disconnect while the host still holds the buffers ends promptly.
  ASSERT_EQ(LockPortBuffer(6, 0), 0);
  const auto start = Clock::now();
  Disconnect(6);
  EXPECT_LT(MsSince(start), 2500);
  EXPECT_EQ(FindPortMap(6), nullptr);
}

TEST_F(Session, ASessionFollowsTheConsolesLastWordAndEndsPromptlyEvenDuringAnAcceptance) {
  LoopbackSettings(31);
  auto sim = Simulator(31, /*accept=*/false);  // the highest group, 236.3.3.31
  auto session = std::make_unique<PORTS>(31);
  ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 1, 3000));
  const size_t before = echo.Messages().size();
  // The first heartbeat comes once the state receiver listens; a datagram
  // may still be lost, so the console says its word until it is heard.
  ASSERT_TRUE(Eventually([&] {
    sim->SendShutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return echo.Contains("RECEIVED PD_SHUTDOWN");
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Without a receiver: nothing but the log line, once per shutdown heard.
  const int shutdowns = echo.Count("RECEIVED PD_SHUTDOWN");
  EXPECT_EQ(echo.Messages().size(), before + static_cast<size_t>(shutdowns));
  EXPECT_FALSE(session->HasSniffer());

  ASSERT_TRUE(Eventually([&] {
    sim->SendAccept();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return session->HasSniffer();
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int started = echo.Count("DMX SNIFFER joining");
  // A console that repeats itself 100 times, then shuts down: the driver
  // follows its last word, not each of the hundred with a receiver of its
  // own, and nothing it says is lost on the way.
  for (int i = 0; i < 100; ++i) sim->SendAccept();
  sim->SendShutdown();
  const auto start = Clock::now();
  EXPECT_TRUE(Eventually([&] { return !session->HasSniffer() && echo.Count("RECEIVED PD_SHUTDOWN") > shutdowns; }));
  EXPECT_LT(MsSince(start), 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(session->HasSniffer());
  EXPECT_LE(echo.Count("DMX SNIFFER joining") - started, 2);
  session.reset();

  for (int cycle = 0; cycle < 12; ++cycle) {
    session = std::make_unique<PORTS>(31);
    ASSERT_TRUE(Eventually([&] { return session->Listening(); }));
    sim->SendAccept();
    // Across the acceptance: before, during and after the 100 ms pause and
    // the receiver's start.
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle * 15));
    const auto destroyed = Clock::now();
    session.reset();
    EXPECT_LT(MsSince(destroyed), 2000) << "cycle " << cycle;
    EXPECT_EQ(pAllTasks, nullptr) << "a receiver outlived its session, cycle " << cycle;
  }
  // A stopping heartbeat sender ends without an error line.
  EXPECT_EQ(echo.Count("sendto error"), 0);
}

TEST_F(Session, ASessionWithoutItsEventsOrSocketsFailsAtOnceSendsNothingAndTheNextIsAnsweredAtItsFirstHeartbeat) {
  LoopbackSettings(2);
  SimOptions options;
  options.console = 2;
  options.acceptIntervalMs = 60000;  // only the first heartbeat is answered
  ConsoleSimulator sim(options);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  PDI pdi = Record(2);
  for (int refused : {1, 2, 4, 5}) {
    // The session's creations in order: send lock, stop event, listening
    // event, level lock, connect event. Refusing the first n reaches each.
    osRefuseCreations(refused);
    const auto start = Clock::now();
    EXPECT_EQ(Connect(&pdi), 0xFFFF) << refused;
    osRefuseCreations(0);
    EXPECT_LT(MsSince(start), 1000) << refused;
  }
  EXPECT_TRUE(echo.Contains("PORTS 2: couldn't create the session's events and locks"));
  EXPECT_TRUE(echo.Contains("AddPortMap nicht erkannt (session not set up)"));
  // Where the platform can refuse new sockets: control threads without
  // theirs end with -1.
  if (RefuseNewDescriptors()) {
    PORTS session(2);
    const bool ended = Eventually([&] { return session.StateRcvExit == -1 && session.HeartbeatExit == -1; });
    RestoreOpenFiles();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(echo.Contains("Couldn't open socket\nfor state receiver! (errno 24)"));
    EXPECT_TRUE(echo.Contains("Couldn't open socket\nfor heartbeat sender! (errno 24)"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
  EXPECT_TRUE(sim.ControlPackets().empty());  // no thread sent anything
  // Nothing is left behind, and the first heartbeat waits until the state
  // receiver listens.
  FaultArm(FaultPoint::StateRcvBeforeJoin, 300);
  EXPECT_EQ(Connect(&pdi), 2);
  FaultDisarmAll();
  // Room for the control group's bursts, which carry the driver's own
  // packets as well as the console's.
  ASSERT_NE(FindPortMap(2), nullptr);
  EXPECT_GE(ReceiveBufferOf(FindPortMap(2)->StateRcvSfd), 512 * 1024);
}

TEST_F(Session, FailuresThatComeAtOnceNeverSpin) {
  auto sim = ConnectedConsole(7);
  // A receiver whose pool gives it nothing.
  FaultArm(FaultPoint::ReceiverNoPacket, 0);
  sim->SendAccept();  // a new receiver, without a packet from the start
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  double cpu = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  cpu = ProcessCpuMs() - cpu;
  FaultDisarmAll();
  EXPECT_LT(cpu, 400.0) << "the receiver spins without a packet";
  Disconnect(7);
  sim.reset();  // its own receiver would spin on the failed waits below

  // A state receiver whose socket waits all fail at once.
  PORTS session(7);
  ASSERT_TRUE(Eventually([&] { return session.Listening(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // past its set-up
  if (!FailSocketWaits()) GTEST_SKIP() << "socket waits cannot be made to fail here";
  // The wait under way ends at its 2 s limit; every later one fails at once.
  EXPECT_TRUE(Eventually([&] { return echo.Contains("StateRcv: SelectRead Error (errno=="); }));
  cpu = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  cpu = ProcessCpuMs() - cpu;
  RestoreSocketWaits();
  EXPECT_EQ(echo.Count("StateRcv: SelectRead Error (errno=="), 1);
  EXPECT_LT(cpu, 400.0) << "the state receiver spins on its failed wait";
}

// Short limits for threads stuck on purpose; every fault point off again.
class Stuck : public Session {
 protected:
  Stuck() {
    PORTS::ThreadEndMs = 300;
    CTASK::KillGraceMs = 300;
    DMX_SNIFFER::StopGraceTicks = 60;
  }
  ~Stuck() override {
    FaultDisarmAll();
    PORTS::ThreadEndMs = 15000;
    CTASK::KillGraceMs = 5000;
    DMX_SNIFFER::StopGraceTicks = 900;
  }
};

TEST_F(Stuck, ControlThreadsEndedByForceLeaveNothingBehind) {
  LoopbackSettings(4);
  auto sim = Simulator(4, /*accept=*/false);
  const std::pair<FaultPoint, const char*> cases[] = {
      {FaultPoint::StateRcvInLoop, "state receiver in its loop"},
      {FaultPoint::HeartbeatInLoop, "heartbeat sender in its loop"},
      {FaultPoint::StopSnifferTaken, "state receiver with its receiver taken out of use"},
      {FaultPoint::EchoLineHeld, "state receiver inside an echo line"},
  };
  for (const auto& [point, name] : cases) {
    PORTS* session = new PORTS(4);
    ASSERT_TRUE(Eventually([&] { return session->Listening(); }));
    if (point == FaultPoint::StopSnifferTaken) {
      ASSERT_TRUE(Eventually([&] {
        sim->SendAccept();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return session->HasSniffer();
      }));
    }
    // The heartbeat sender sticks, or the state receiver.
    FaultArm(point, -1, point == FaultPoint::HeartbeatInLoop ? session->HeartbeatThreadId : session->StateRcvThreadId);
    sim->SendShutdown();  // the state receiver's next pass, line and StopSniffer
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const auto start = Clock::now();
    delete session;
    EXPECT_LT(MsSince(start), 3000) << name;
    EXPECT_EQ(pAllTasks, nullptr) << name << ": a receiver outlived its session";
    FaultDisarmAll();
    EchoPrint("after the %s", name);  // nothing the ended thread held is held any more
    EXPECT_TRUE(echo.Contains(std::string("after the ") + name));
  }
  EXPECT_TRUE(echo.Contains("~PORTS() a control thread did not end; ending it"));
  sim = Simulator(4);  // a console that answers: a session works again
  PDI pdi = Record(4);
  EXPECT_EQ(Connect(&pdi), 4);
}

TEST_F(Stuck, AReceiverEndedByForceInsideADecodeLeavesTheLevelsToTheHost) {
  auto sim = ConnectedConsole(6);
  ASSERT_TRUE(Delivered(*sim, 6, 0, Pattern(1)));
  FaultArm(FaultPoint::DecodeHoldingLevels, -1, FindPortMap(6)->Sniffer.load()->m_threadId);
  sim->SetLevels(0, Pattern(2).data());  // decoded, then the receiver sticks holding the levels
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  sim->SendShutdown();  // its stop ends it by force
  EXPECT_TRUE(Eventually([] { return GetNumChannels(6, 0) == 0; }, 5000));
  FaultDisarmAll();
  sim->SendAccept();
  EXPECT_TRUE(Delivered(*sim, 6, 0, Pattern(3)));
}

}  // namespace
