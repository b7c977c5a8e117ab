// Addresses and the UDP socket classes, on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/platform.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/logFile.h"
#include "tvnLib/udpsocket.h"

namespace {

const uint32_t kLoopback = MakeAddress(127, 0, 0, 1);
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
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
  EXPECT_EQ(Text(ClassfulBroadcast(MakeAddress(10, 1, 2, 3))), "10.255.255.255");
  EXPECT_EQ(Text(ClassfulBroadcast(MakeAddress(172, 16, 1, 2))), "172.16.255.255");
  EXPECT_EQ(Text(ClassfulBroadcast(MakeAddress(192, 168, 1, 7))), "192.168.1.255");
  EXPECT_EQ(Text(ClassfulBroadcast(MakeAddress(236, 3, 2, 32))), "236.3.2.32");
  EXPECT_EQ(Text(ClassfulBroadcast(0)), "0.255.255.255");
  const IPADDRESS address(9138, MakeAddress(236, 3, 2, 32));
  EXPECT_EQ(address.family, 2);
  EXPECT_EQ(address.HostPort(), 9138);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&address.port);
  EXPECT_EQ(bytes[0] << 8 | bytes[1], 0x23B2);  // network order
}

// A socket whose membership table a test can reach.
class MemberSocket : public UDPSOCKET {
 public:
  explicit MemberSocket(int openNow = 1) : UDPBASE(openNow), UDPSOCKET(0, 0, openNow) {}
  void DropAll() { m_memberships.DropAll(Socket()); }
};

TEST(UdpBase, OpensOnceClosesOnceAndKeepsAndLeavesItsMemberships) {
  {
    UDPSOCKET closed(0, 45000, 0);
    EXPECT_FALSE(closed.IsOpen());
    EXPECT_EQ(closed.BoundAddr.HostPort(), 0);
    UDPSOCKET open(0, 45000, 1);
    EXPECT_EQ(open.BoundAddr.HostPort(), 45000);
    EXPECT_EQ(open.DefaultDest.address, MakeAddress(0, 255, 255, 255));
  }
  MemberSocket socket(0);
  socket.Close();  // closed already: nothing
  EXPECT_EQ(socket.JoinGroup(MEMBERSHIP{MakeAddress(236, 3, 2, 40), kLoopback}), -1);
  EXPECT_EQ(socket.SetTTL(2), -1);
  EXPECT_EQ(socket.Open(), 1);
  const OsSocket handle = socket.Socket();
  EXPECT_EQ(socket.Open(), 0);
  EXPECT_EQ(socket.Socket(), handle);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(socket.JoinGroup(MEMBERSHIP{MakeAddress(236, 3, 2, static_cast<uint8_t>(40 + i)), kLoopback}), 0);
  EXPECT_EQ(socket.JoinGroup(MEMBERSHIP{MakeAddress(236, 3, 2, 40), kLoopback}), 0);  // known: no call
  EXPECT_EQ(socket.JoinGroup(MEMBERSHIP{MakeAddress(236, 3, 2, 99), kLoopback}), 0);  // the 17th
  EXPECT_EQ(socket.Memberships().m_count, 16);
  socket.Close();
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Memberships().m_count, 0);
  EXPECT_EQ(socket.Memberships().m_items[0].group, 0u);

  // Leaving a group really leaves it: its datagrams stop coming.
  const uint32_t group = MakeAddress(236, 3, 9, 9);
  MemberSocket receiver;
  receiver.SetReuseAddr(1);
  receiver.Bind(IPADDRESS(45004, 0));
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

TEST(UdpBase, AFailedBindThrowsAndKeepsTheLastBoundAddress) {
  UDPSOCKET socket(0, 0, 1);
  socket.Bind(IPADDRESS(0, kLoopback));
  const IPADDRESS bound = socket.BoundAddr;
  EXPECT_EQ(bound.address, kLoopback);
  try {
    socket.Bind(IPADDRESS(9, MakeAddress(192, 0, 2, 1)));  // not an address of this machine
    FAIL() << "bind to a foreign address succeeded";
  } catch (const EXCPT_UDP& e) {
    EXPECT_NE(std::string(e.m_text).find("Can't bind socket"), std::string::npos);
    EXPECT_NE(std::string(e.m_text).find("192.0.2.1:9"), std::string::npos);
  }
  EXPECT_EQ(std::memcmp(&socket.BoundAddr, &bound, sizeof bound), 0);
}

TEST(UdpBase, TtlTakesTheLowByteWarnsAboveOneAndTheMulticastInterfaceSets8) {
  static std::vector<std::string> trace;
  trace.clear();
  TraceSink = [](int, unsigned, const char* text) { trace.push_back(text); };
  UDPSOCKET socket(0, 0, 1);  // the sender side sets the default interface and TTL 8
  EXPECT_NE(std::find(trace.begin(), trace.end(), "UDPBASE"), trace.end());
  trace.clear();
  EXPECT_EQ(socket.SetTTL(1), 0);
  EXPECT_EQ(socket.SetTTL(0x102), 0);
  socket.SetMulticastIf(kLoopback);
  TraceSink = nullptr;
  EXPECT_EQ(MulticastTtlOf(socket.Socket()), 8);
  EXPECT_EQ(trace, (std::vector<std::string>{"WARNING: TTL set to 2! Routing correct?",
                                             "WARNING: TTL set to 8! Routing correct?"}));
}

TEST(UdpSocket, WaitsTimeOutReportDataAndEndAtOnceOnAClosedSocketOrACloseFromAnotherThread) {
  UDPSOCKET receiver(0, 0, 1);
  receiver.Bind(IPADDRESS(45001, kLoopback));
  const TVN_TIMEVAL shortWait{0, 200000}, longWait{2, 0};
  auto start = Clock::now();
  EXPECT_EQ(receiver.selectRead(&shortWait), 0);
  EXPECT_GE(MsSince(start), 180);
  UDPSOCKET sender(0, 0, 1);
  EXPECT_EQ(sender.SendTo("hello", 5, IPADDRESS(45001, kLoopback)), 5);
  EXPECT_EQ(sender.PacketsSent, 1u);
  EXPECT_EQ(sender.BytesSent, 5u);
  start = Clock::now();
  EXPECT_NE(receiver.selectRead(&longWait), 0);
  EXPECT_LT(MsSince(start), 100);
  char buffer[16];
  EXPECT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 5);
  receiver.Close();
  start = Clock::now();
  EXPECT_EQ(receiver.selectRead(&longWait), 0);
  EXPECT_LT(MsSince(start), 100);

  for (const bool withLimit : {true, false}) {
    UDPSOCKET waiting(0, 0, 1);
    waiting.Bind(IPADDRESS(45003, kLoopback));
    std::atomic<int> result{-1};
    std::atomic<int64_t> tookMs{-1};
    std::thread waiter([&] {
      const auto began = Clock::now();
      result = waiting.selectRead(withLimit ? &longWait : nullptr);
      tookMs = MsSince(began);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the wait is under way
    waiting.Close();
    waiter.join();
    EXPECT_EQ(result, 0) << withLimit;
    EXPECT_LT(tookMs, 1000) << withLimit;
  }
}

// Both ways of waiting for a datagram: a receive that waits, and a wait
// followed by a receive. A wait must never report a datagram that an
// earlier receive already took (the state receiver would take the empty
// receive for a broken socket and end), a receive takes a queued datagram
// without waiting, gives up after its limit, and ends at once when another
// thread wakes the socket.
TEST(UdpSocket, ReceivesWaitForDataTheirLimitOrAWakeAndNeverForAGoneDatagram) {
  UDPSOCKET receiver(0, 0, 1);
  receiver.Bind(IPADDRESS(45005, kLoopback));
  UDPSOCKET sender(0, 0, 1);
  const IPADDRESS to(45005, kLoopback);
  char buffer[64];
  OsDatagram info;
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(sender.SendTo("ab", 2, to), 2);
    const TVN_TIMEVAL wait{1, 0}, shortWait{0, 150000};
    ASSERT_NE(receiver.selectRead(&wait), 0);
    ASSERT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 2);
    const auto start = Clock::now();
    EXPECT_EQ(receiver.selectRead(&shortWait), 0) << "round " << round;
    EXPECT_GE(MsSince(start), 100);
  }
  // After timed waits the socket is still blocking: a receive waits for
  // the datagram that comes later, as on every platform.
  EXPECT_EQ(osSetBlocking(receiver.Socket()), 0);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sender.SendTo("late", 4, to);
  });
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
  auto start = Clock::now();
  EXPECT_EQ(receiver.ReceiveWithin(buffer, sizeof buffer, 200000, &info), 0);
  EXPECT_GE(MsSince(start), 150);
  EXPECT_LT(MsSince(start), 1500);
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    osSocketWake(receiver.Socket());
  });
  start = Clock::now();
  EXPECT_LE(receiver.ReceiveWithin(buffer, sizeof buffer, 5000000, &info), 0);
  EXPECT_LT(MsSince(start), 1000) << "the wake did not end the receive";
  waker.join();
}

TEST(UdpSocket, FailedSendsLeaveTheStatisticsAndSlowSendComparesStrictly) {
  UDPSOCKET sender(0, 0, 1);
  EXPECT_EQ(sender.SendTo("x", 1, IPADDRESS(0, kLoopback)), -1);  // port 0 is no destination
  EXPECT_EQ(sender.PacketsSent, 0u);
  EXPECT_EQ(sender.BytesSent, 0u);

  uint8_t datagram[64] = {};
  const uint32_t length = 48;
  std::memcpy(datagram + 8, &length, sizeof length);
  sender.DefaultDest = IPADDRESS(45002, kLoopback);
  UDPSOCKET receiver(0, 0, 1);
  receiver.Bind(IPADDRESS(45002, kLoopback));
  sender.SlowLimit = -1;  // any send takes longer than -1 ticks
  EXPECT_EQ(sender.Send(datagram), 48);
  EXPECT_EQ(sender.SlowSend, 1);
  // A send within its tick is not slow (the test is "longer than"): with a
  // limit of 0, some of a few sends finish in the tick they began in.
  sender.SlowLimit = 0;
  int notSlow = 0;
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(sender.Send(datagram), 48);
    notSlow += sender.SlowSend == 0 ? 1 : 0;
  }
  EXPECT_GT(notSlow, 0);
  EXPECT_EQ(sender.BytesSent, 21u * 48);
  char buffer[128];
  EXPECT_EQ(osRecv(receiver.Socket(), buffer, sizeof buffer), 48);

  sender.Close();
  EXPECT_EQ(sender.SendTo("x", 1, IPADDRESS(45002, kLoopback)), -1);
  EXPECT_EQ(sender.PacketsSent, 21u);
}

}  // namespace
