// Faults of a real network, in network namespaces the test makes itself:
// the driver's side and the consoles' side joined by veth pairs. The
// interface goes down and comes back, its address disappears, a console
// with the same number talks on another interface. The driver never
// crashes or hangs, Disconnect stays bounded, the echo says what happened,
// and a host that disconnects and connects again gets its levels back.
//
// Needs root (namespaces and links); skipped with the reason otherwise.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "support/session_fixture.h"
#include "tvnLib/ipaddress.h"

namespace {

// Runs a shell command quietly; true when it succeeded.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// The calling thread in the network namespace at `path` while the object
// lives.
class InNamespace {
 public:
  explicit InNamespace(const std::string& path) : m_home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    const int target = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    m_entered = m_home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
  }
  ~InNamespace() {
    if (m_entered) setns(m_home, CLONE_NEWNET);
    if (m_home >= 0) close(m_home);
  }
  bool Entered() const { return m_entered; }

 private:
  int m_home;
  bool m_entered = false;
};

// Two namespaces, "driver" and "consoles", joined by veth pairs A and B:
// the driver's 10.213.0.1 and 10.213.1.1, the consoles' 10.213.0.2 and
// 10.213.1.2.
class NetnsFault : public Session {
 protected:
  void SetUp() override {
    Session::SetUp();
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    const std::string id = std::to_string(getpid());
    m_driverNs = "pvdrv" + id;
    m_consoleNs = "pvcon" + id;
    if (!Shell("ip netns add " + m_driverNs) || !Shell("ip netns add " + m_consoleNs))
      GTEST_SKIP() << "network namespaces are not available here (ip netns add failed)";
    for (int pair = 0; pair < 2; ++pair) {
      const std::string d = DriverLink(pair), c = "pvc" + std::to_string(pair) + "_" + id;
      const std::string net = "10.213." + std::to_string(pair) + ".";
      ASSERT_TRUE(
          Shell("ip link add " + d + " netns " + m_driverNs + " type veth peer name " + c + " netns " + m_consoleNs) &&
          Ip(m_driverNs, "addr add " + net + "1/24 dev " + d) && Ip(m_consoleNs, "addr add " + net + "2/24 dev " + c) &&
          Ip(m_driverNs, "link set " + d + " up") && Ip(m_consoleNs, "link set " + c + " up"));
    }
    ASSERT_TRUE(Ip(m_driverNs, "link set lo up") && Ip(m_consoleNs, "link set lo up"));
    m_driverSide.reset(new InNamespace("/run/netns/" + m_driverNs));
    ASSERT_TRUE(m_driverSide->Entered());
    registry.Setting("ip", "10.213.0.1");
    registry.Setting("Trivane1", 1u);
    Init();
  }

  void TearDown() override {
    ClearPortMap();
    m_consoles.clear();
    m_driverSide.reset();
    if (!m_driverNs.empty()) Shell("ip netns del " + m_driverNs);
    if (!m_consoleNs.empty()) Shell("ip netns del " + m_consoleNs);
    Session::TearDown();
  }

  std::string DriverLink(int pair) const { return "pvd" + std::to_string(pair) + "_" + std::to_string(getpid()); }
  static bool Ip(const std::string& ns, const std::string& args) { return Shell("ip -n " + ns + " " + args); }

  // A console on the consoles' side of pair `pair`; its sockets (and so its
  // threads' traffic) belong to that namespace.
  ConsoleSimulator* Console(uint32_t console, int pair, bool accept = true) {
    SimOptions options;
    options.console = console;
    options.interfaceAddr = MakeAddress(10, 213, static_cast<uint8_t>(pair), 2);
    options.universes = 4;
    options.rateHz = 30;
    options.pattern = SimPattern::Static;
    options.neverAccept = !accept;
    options.acceptIntervalMs = 300;
    ConsoleSimulator* sim = new ConsoleSimulator(options);
    m_consoles.emplace_back(sim);
    bool started = false;
    std::thread([&] {
      InNamespace consoles("/run/netns/" + m_consoleNs);
      std::string error;
      started = consoles.Entered() && sim->Start(&error);
    }).join();
    EXPECT_TRUE(started);
    return sim;
  }

  // Connects console 1 and sees `levels` arrive in universe 0.
  void ConnectAndStream(ConsoleSimulator& sim, const std::vector<uint8_t>& levels) {
    PDI pdi = Record(1);
    ASSERT_EQ(Connect(&pdi), 1);
    ASSERT_TRUE(Delivered(sim, 1, 0, levels));
  }

  // Disconnects console 1, in time, after `fault`.
  void ExpectADisconnectInTime(const char* fault) {
    const auto start = Clock::now();
    Disconnect(1);
    const int64_t ms = MsSince(start);
    std::printf("%s: Disconnect took %lld ms\n", fault, static_cast<long long>(ms));
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(FindPortMap(1), nullptr);
  }

  // `fault` on the driver's first interface under a running session, for
  // more than two heartbeats, then `repair` (before the Disconnect or after
  // it): the heartbeat's send failed and ended it (a failed send always
  // does), the receiver still delivers, Disconnect stays bounded, and a new
  // Connect streams again.
  void FaultAndRepair(ConsoleSimulator& sim, const std::string& fault, const std::string& repair, bool repairFirst,
                      uint8_t seed, const char* name) {
    const int from = static_cast<int>(echo.Messages().size());
    ASSERT_TRUE(Ip(m_driverNs, fault));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(!repairFirst || Ip(m_driverNs, repair));
    EXPECT_GE(echo.Find("heartbeat sender sendto error (errno ", from), 0);
    EXPECT_GE(echo.Find("Leaving HeartbeatSender", from), 0);
    EXPECT_TRUE(Delivered(sim, 1, 0, Pattern(seed)));
    ExpectADisconnectInTime(name);
    ASSERT_TRUE(repairFirst || Ip(m_driverNs, repair));
    ConnectAndStream(sim, Pattern(seed + 1));
  }

  std::string m_driverNs, m_consoleNs;
  std::unique_ptr<InNamespace> m_driverSide;
  std::vector<std::unique_ptr<ConsoleSimulator>> m_consoles;
};

// The receivers keep their groups across both (a membership belongs to the
// interface, not its address); the Connect between them proves the
// heartbeat heard again.
TEST_F(NetnsFault, AnInterfaceThatGoesDownAndComesBackThenLosesItsAddress) {
  ConsoleSimulator& sim = *Console(1, 0);
  ConnectAndStream(sim, Pattern(1));
  const std::string link = DriverLink(0), address = "10.213.0.1/24 dev " + link;
  FaultAndRepair(sim, "link set " + link + " down", "link set " + link + " up", true, 11, "interface down and up");
  FaultAndRepair(sim, "addr del " + address, "addr add " + address, false, 13, "address gone");
}

TEST_F(NetnsFault, AConsoleWithTheSameNumberOnAnotherInterfaceIsNotHeard) {
  ConsoleSimulator& ours = *Console(1, 0);
  ConsoleSimulator& stranger = *Console(1, 1, /*accept=*/false);
  ConnectAndStream(ours, Pattern(5));
  // The stranger streams other levels to the same groups and shuts down
  // over and over, on the other interface.
  const std::vector<uint8_t> others = Pattern(99);
  for (int i = 0; i < 20; ++i) {
    stranger.SetLevels(0, others.data());
    stranger.SendShutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadPort(1, 0), Pattern(5));
  EXPECT_EQ(GetNumChannels(1, 0), 512);
  EXPECT_FALSE(echo.Contains("RECEIVED PD_SHUTDOWN"));
  ExpectADisconnectInTime("stranger on another interface");
}

}  // namespace
