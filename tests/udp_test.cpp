// Addresses and the UDP socket classes, on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/platform.h"
#include "support/timing.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/logFile.h"
#include "tvnLib/udpsocket.h"

namespace {

const uint32_t kLoopback = MakeAddress(127, 0, 0, 1);
using Ints = std::vector<int64_t>;

// Runs `f` on a thread of its own after 100 ms, when the caller waits.
std::thread Later(std::function<void()> f) {
  return std::thread([f] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    f();
  });
}

std::string Text(uint32_t address) {
  char buffer[kAddressTextSize];
  return AddressText(address, buffer);
}

TEST(Address, ParsesAsTheStandardParserDoesAndBroadcastsByClass) {
  const std::pair<const char*, const char*> good[] = {
      {"192.168.1.7", "192.168.1.7"}, {"127.1", "127.0.0.1"}, {"10.1.258", "10.1.1.2"},
      {"0x7f.0.0.01", "127.0.0.1"},   {"1.2.3.4 ", "1.2.3.4"}};
  for (const auto& g : good) EXPECT_EQ(Text(ParseDottedAddress(g.first)), g.second) << g.first;
  for (const char* bad : {"", "1.2.3.256", "1.2.3.4.5", "a.b.c.d", "1..2.3", "1.2.3.4x", "09.1.1.1", "(none)"})
    EXPECT_EQ(ParseDottedAddress(bad), 0xFFFFFFFFu) << bad;
  EXPECT_EQ(ParseDottedAddress(nullptr), 0xFFFFFFFFu);
  // The first and last networks of classes A to C; groups stay as they are.
  const std::pair<const char*, const char*> broadcasts[] = {
      {"0.0.0.0", "0.255.255.255"},       {"127.1.2.3", "127.255.255.255"}, {"128.1.2.3", "128.1.255.255"},
      {"191.168.1.7", "191.168.255.255"}, {"192.168.1.7", "192.168.1.255"}, {"223.1.2.3", "223.1.2.255"},
      {"224.1.2.3", "224.1.2.3"},         {"236.3.2.32", "236.3.2.32"}};
  for (const auto& b : broadcasts) EXPECT_EQ(Text(ClassfulBroadcast(ParseDottedAddress(b.first))), b.second) << b.first;
  const IPADDRESS address(9138, MakeAddress(236, 3, 2, 32));
  const uint8_t* port = reinterpret_cast<const uint8_t*>(&address.port);  // in network order
  EXPECT_EQ((Ints{address.family, address.HostPort(), port[0] << 8 | port[1]}), (Ints{2, 9138, 0x23B2}));
}

// A socket whose membership table a test can reach; given a port, it binds
// to it on every interface once open.
class MemberSocket : public UDPSOCKET {
 public:
  explicit MemberSocket(int openNow, uint16_t port = 0) : UDPBASE(openNow), UDPSOCKET(0, port, openNow) {}
  void DropAll() { m_memberships.DropAll(Socket()); }
};

MEMBERSHIP Group(int last) { return MEMBERSHIP{MakeAddress(236, 3, 2, static_cast<uint8_t>(last)), kLoopback}; }

// An open socket bound to `port` on loopback.
struct BoundSocket : UDPSOCKET {
  explicit BoundSocket(uint16_t port) : UDPBASE(1), UDPSOCKET(0, 0, 1) { Bind(IPADDRESS(port, kLoopback)); }
};

TEST(UdpBase, OpensOnceClosesOnceBindsSetsItsTtlAndKeepsAndLeavesItsMemberships) {
  static std::vector<std::string> trace;
  trace.clear();
  // Each line with its level and category: traces are level 1.
  TraceSink = [](int level, unsigned category, const char* text) {
    trace.push_back(std::to_string(level) + "/" + std::to_string(category) + " " + text);
  };
  MemberSocket socket(0, 45000);
  EXPECT_NE(std::find(trace.begin(), trace.end(), "1/2 UDPBASE"), trace.end());
  socket.Close();  // closed already: nothing
  // Closed: not bound to its port, joins no group, sets no TTL.
  EXPECT_EQ((Ints{socket.IsOpen(), socket.BoundAddr.HostPort(), socket.JoinGroup(Group(40)), socket.SetTTL(2)}),
            (Ints{0, 0, -1, -1}));
  EXPECT_EQ(socket.Open(), 1);
  const OsSocket handle = socket.Socket();
  EXPECT_EQ(socket.Open(), 0);
  EXPECT_EQ(socket.Socket(), handle);
  // Only the TTL's low byte counts, one above 1 is reported, and the
  // multicast interface comes with TTL 8.
  trace.clear();
  EXPECT_EQ((Ints{socket.SetTTL(1), socket.SetTTL(0x102)}), (Ints{0, 0}));
  socket.SetMulticastIf(kLoopback);
  TraceSink = nullptr;
  EXPECT_EQ(MulticastTtlOf(socket.Socket()), 8);
  EXPECT_EQ(trace, (std::vector<std::string>{"1/2 WARNING: TTL set to 2! Routing correct?",
                                             "1/2 WARNING: TTL set to 8! Routing correct?"}));
  // A failed bind throws and keeps the last bound address.
  socket.Bind(IPADDRESS(0, kLoopback));
  const IPADDRESS bound = socket.BoundAddr;
  EXPECT_EQ(bound.address, kLoopback);
  try {
    socket.Bind(IPADDRESS(9, MakeAddress(192, 0, 2, 1)));  // not an address of this machine
    FAIL() << "bind to a foreign address succeeded";
  } catch (const EXCPT_UDP& e) {
    EXPECT_EQ(std::string(e.m_text),
              "Can't bind socket " + std::to_string(static_cast<int>(socket.Socket())) + " to port 192.0.2.1:9");
  }
  EXPECT_EQ(std::memcmp(&socket.BoundAddr, &bound, sizeof bound), 0);

  for (int i = 0; i < 16; ++i) EXPECT_EQ(socket.JoinGroup(Group(40 + i)), 0);
  // A known group again (no call, which would fail) and a 17th (joined, not
  // recorded); the first is recorded first.
  EXPECT_EQ((Ints{socket.JoinGroup(Group(40)), socket.JoinGroup(Group(99)), socket.Memberships().m_count,
                  socket.Memberships().m_items[0].group == Group(40).group}),
            (Ints{0, 0, 16, 1}));
  socket.Close();
  const UDPMEMBERSHIPS& memberships = socket.Memberships();
  EXPECT_EQ((Ints{socket.IsOpen(), memberships.m_count, memberships.m_items[0].group}), (Ints{0, 0, 0}));

  // Leaving a group really leaves it: its datagrams stop coming.
  const uint32_t group = MakeAddress(236, 3, 9, 9);
  MemberSocket receiver(1, 45004);
  EXPECT_EQ((Ints{receiver.BoundAddr.HostPort(), receiver.DefaultDest.address}),
            (Ints{45004, MakeAddress(0, 255, 255, 255)}));
  ASSERT_EQ(receiver.JoinGroup(MEMBERSHIP{group, kLoopback}), 0);
  UDPSOCKET sender(0, 0, 1);
  sender.SetMulticastIf(kLoopback);
  sender.SetMulticastLoop(1);
  const TVN_TIMEVAL wait{0, 300000};
  ASSERT_EQ(sender.SendTo("in", 2, IPADDRESS(45004, group)), 2);
  ASSERT_NE(receiver.selectRead(&wait), 0);
  char buffer[8];
  EXPECT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 2);
  receiver.DropAll();
  ASSERT_EQ(sender.SendTo("out", 3, IPADDRESS(45004, group)), 3);
  EXPECT_EQ(receiver.selectRead(&wait), 0);
}

TEST(UdpSocket, WaitsTimeOutReportDataAndEndAtOnceOnAClosedSocketOrACloseFromAnotherThread) {
  BoundSocket receiver(45001);
  const TVN_TIMEVAL shortWait{0, 200000}, longWait{2, 0};
  EXPECT_GE(MsTaken([&] { EXPECT_EQ(receiver.selectRead(&shortWait), 0); }), 180);
  UDPSOCKET sender(0, 0, 1);
  EXPECT_EQ(sender.SendTo("hello", 5, IPADDRESS(45001, kLoopback)), 5);
  EXPECT_LT(MsTaken([&] { EXPECT_NE(receiver.selectRead(&longWait), 0); }), 100);
  char buffer[16];
  EXPECT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 5);
  receiver.Close();
  EXPECT_LT(MsTaken([&] { EXPECT_EQ(receiver.selectRead(&longWait), 0); }), 100);

  for (const bool withLimit : {true, false}) {
    BoundSocket waiting(45003);
    std::thread closer = Later([&] { waiting.Close(); });
    EXPECT_LT(MsTaken([&] { EXPECT_EQ(waiting.selectRead(withLimit ? &longWait : nullptr), 0) << withLimit; }), 1000)
        << withLimit;
    closer.join();
  }
}

// Both ways of waiting for a datagram: a receive that waits, and a wait
// followed by a receive. A wait must never report a datagram that an
// earlier receive already took (the state receiver would take the empty
// receive for a broken socket and end), a receive takes a queued datagram
// without waiting, gives up after its limit, and ends at once when another
// thread wakes the socket.
TEST(UdpSocket, ReceivesWaitForDataTheirLimitOrAWakeAndNeverForAGoneDatagram) {
  BoundSocket receiver(45005);
  UDPSOCKET sender(0, 0, 1);
  const IPADDRESS to(45005, kLoopback);
  char buffer[64];
  OsDatagram info;
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(sender.SendTo("ab", 2, to), 2);
    const TVN_TIMEVAL wait{1, 0}, shortWait{0, 150000};
    ASSERT_NE(receiver.selectRead(&wait), 0);
    ASSERT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 2);
    EXPECT_GE(MsTaken([&] { EXPECT_EQ(receiver.selectRead(&shortWait), 0) << "round " << round; }), 100);
  }
  // After timed waits the socket is still blocking: a receive waits for
  // the datagram that comes later, as on every platform.
  EXPECT_EQ(osSetBlocking(receiver.Socket()), 0);
  std::thread late = Later([&] { sender.SendTo("late", 4, to); });
  EXPECT_EQ(osRecvFrom(receiver.Socket(), buffer, sizeof buffer, &info), 4);
  late.join();
  EXPECT_EQ(info.source, kLoopback);
  // A wait that the system cannot set up fails, and says why.
  UDPSOCKET refused(0, 0, 1);
  osRefuseCreations(1);
  osNetClearLastError();
  const int result = osSelect(refused.Socket(), false, 50000);
  osRefuseCreations(0);
  EXPECT_TRUE(result == 0 || (result == -1 && osNetLastError() != 0)) << result;

  ASSERT_EQ(sender.SendTo("xyz", 3, to), 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(receiver.ReceiveWithin(buffer, sizeof buffer, 1000000, &info), 3);
  for (const int64_t limitMs : {200, 1000})  // under and over a second: within [limit - 50, limit + 1300] ms
    EXPECT_NEAR(MsTaken([&] { EXPECT_EQ(receiver.ReceiveWithin(buffer, sizeof buffer, limitMs * 1000, &info), 0); }),
                limitMs + 625, 675);
  std::thread waker = Later([&] { osSocketWake(receiver.Socket()); });
  EXPECT_LT(MsTaken([&] { EXPECT_LE(receiver.ReceiveWithin(buffer, sizeof buffer, 5000000, &info), 0); }), 1000)
      << "the wake did not end the receive";
  waker.join();
}

// The packet and byte counts of successful sends are checked here (the
// wait test sends one datagram but leaves them to this test).
TEST(UdpSocket, FailedSendsLeaveTheStatisticsAndSlowSendComparesStrictly) {
  UDPSOCKET sender(0, 0, 1);
  EXPECT_EQ(sender.SendTo("x", 1, IPADDRESS(0, kLoopback)), -1);  // port 0 is no destination
  EXPECT_EQ((Ints{sender.PacketsSent, sender.BytesSent}), (Ints{0, 0}));

  // The length, 48, as the host's 32-bit value at offset 8 (every target is little-endian).
  const uint8_t datagram[64] = {0, 0, 0, 0, 0, 0, 0, 0, 48};
  sender.DefaultDest = IPADDRESS(45002, kLoopback);
  BoundSocket receiver(45002);
  sender.SlowLimit = -1;  // any send takes longer than -1 ticks
  EXPECT_EQ((Ints{sender.Send(datagram), sender.SlowSend}), (Ints{48, 1}));
  // A send within its tick is not slow (the test is "longer than"): with a
  // limit of 0, some of a few sends finish in the tick they began in.
  sender.SlowLimit = 0;
  int notSlow = 0;
  for (int i = 0; i < 20; ++i) notSlow += sender.Send(datagram) == 48 && sender.SlowSend == 0 ? 1 : 0;
  EXPECT_GT(notSlow, 0);
  EXPECT_EQ(sender.BytesSent, 21u * 48);  // each of the 21 sends sent all 48 bytes
  char buffer[128];
  EXPECT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 48);

  sender.Close();
  EXPECT_EQ((Ints{sender.SendTo("x", 1, IPADDRESS(45002, kLoopback)), sender.PacketsSent}), (Ints{-1, 21}));
}

}  // namespace
