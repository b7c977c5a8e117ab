// The DMX receiver task on loopback multicast.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/dmx_sniffer.h"
#include "protocol/pd_packet.h"
#include "support/echo_capture.h"
#include "tools/dmx_encode.h"
#include "tvnLib/ipaddress.h"

namespace {

const uint32_t kLoopback = MakeAddress(127, 0, 0, 1);
using Clock = std::chrono::steady_clock;

// Sends datagrams to a console's DMX group from loopback.
class DmxSender {
 public:
  DmxSender() : m_socket(osUdpSocket()) {
    osSetMulticastIf(m_socket, kLoopback);
    osSetSockOpt(m_socket, OsSockOpt::MulticastLoop, 1);
  }
  ~DmxSender() { osSocketClose(m_socket); }
  void Send(int console, const std::vector<uint8_t>& datagram) {
    // The group spelled out, not the receiver's own formula.
    const std::string group = "236.3.2." + std::to_string(32 + console);
    const IPADDRESS to(DmxPort, ParseDottedAddress(group.c_str()));
    osSendTo(m_socket, datagram.data(), static_cast<int>(datagram.size()), &to);
  }

 private:
  OsSocket m_socket;
};

std::vector<uint8_t> OneLevel(int universe, int channel, uint8_t level) {
  uint8_t levels[512] = {};
  uint8_t previous[512] = {};
  levels[channel] = level;
  previous[channel] = static_cast<uint8_t>(level + 1);
  std::vector<uint8_t> records;
  AppendLevelRecord(records, levels, previous);
  return BuildDmxDatagram({UniverseBlock{universe, records}});
}

TEST(Groups, ControlAndDmxGroupsAreTheLiteralAddresses) {
  EXPECT_EQ(ConsoleGroup(1), ParseDottedAddress("236.3.3.1"));
  EXPECT_EQ(ConsoleGroup(7), ParseDottedAddress("236.3.3.7"));
  EXPECT_EQ(ConsoleGroup(31), ParseDottedAddress("236.3.3.31"));
  for (int console = 1; console <= 31; ++console) {
    const std::string text = "236.3.2." + std::to_string(32 + console);
    EXPECT_EQ(DmxGroup(console), ParseDottedAddress(text.c_str())) << text;
  }
}

// Waits until `predicate` holds, up to two seconds.
template <typename Predicate>
bool Eventually(Predicate predicate) {
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < until) {
    if (predicate()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return predicate();
}

uint8_t LevelOf(DMX_SNIFFER& sniffer, int universe, int channel) {
  RESOURCE_LOCK lock(&sniffer, "test");
  return sniffer.LevelsOf(universe)[channel];
}

std::unique_ptr<DMX_SNIFFER> Receiver(int console) {
  std::unique_ptr<DMX_SNIFFER> sniffer(new DMX_SNIFFER);
  for (int u = 0; u < kUniverses; ++u) sniffer->AddUniverse(u);
  sniffer->Join(kLoopback, console);
  return sniffer;
}

TEST(Sniffer, ReceiversJoiningAtOnceEachLogTheirOwnIntactLine) {
  // Several sessions' receivers join at the same moment; each line's
  // address text must be its own (under ThreadSanitizer, no shared buffer).
  EchoCapture echo;
  std::vector<std::unique_ptr<DMX_SNIFFER>> sniffers(4);
  std::vector<std::thread> joiners;
  for (int i = 0; i < 4; ++i)
    joiners.emplace_back([&, i] {
      sniffers[i].reset(new DMX_SNIFFER);
      sniffers[i]->Join(kLoopback, 11 + i);
    });
  for (std::thread& t : joiners) t.join();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(echo.Count("DMX SNIFFER joining Group " + std::to_string(11 + i) + ", m_interface 127.0.0.1"), 1);
}

TEST(Sniffer, JoinsTheConsolesGroupAndDecodes) {
  EchoCapture echo;
  std::unique_ptr<DMX_SNIFFER> sniffer = Receiver(7);
  EXPECT_EQ(sniffer->m_running, 1);
  EXPECT_EQ(sniffer->m_state, kTaskRunning);
  EXPECT_TRUE(echo.Contains("DMX SNIFFER joining Group 7, m_interface 127.0.0.1"));
  EXPECT_EQ(sniffer->m_socket.Memberships().m_items[0].group, MakeAddress(236, 3, 2, 39));
  DmxSender sender;
  sender.Send(7, OneLevel(3, 200, 0x5A));
  EXPECT_TRUE(Eventually([&] { return LevelOf(*sniffer, 3, 200) == 0x5A; }));

  // Datagrams that fail the acceptance rule or are too long are received
  // but not decoded.
  std::vector<uint8_t> wrongType = OneLevel(3, 201, 0x11);
  wrongType[12] = (wrongType[12] & 0xE0) | 23;
  sender.Send(7, wrongType);
  // 1500 bytes whose PayloadLength matches what a 1468-byte read keeps.
  std::vector<uint8_t> tooLong = OneLevel(3, 202, 0x22);
  tooLong.resize(1500, 0);
  tooLong[8] = static_cast<uint8_t>(kRrMaxPayload & 0xFF);
  tooLong[9] = static_cast<uint8_t>(kRrMaxPayload >> 8);
  sender.Send(7, tooLong);
  sender.Send(7, OneLevel(3, 203, 0x33));
  EXPECT_TRUE(Eventually([&] { return LevelOf(*sniffer, 3, 203) == 0x33; }));
  EXPECT_EQ(LevelOf(*sniffer, 3, 201), 0);
  EXPECT_EQ(LevelOf(*sniffer, 3, 202), 0);
  EXPECT_GE(sniffer->Stats().m_received.load(), 4u);
  EXPECT_EQ(sniffer->Stats().m_decoded.load(), 2u);
  EXPECT_EQ(sniffer->Stats().Dropped(DmxDrop::NotDmxDataNew), 1u);
  EXPECT_EQ(sniffer->Stats().Dropped(DmxDrop::Oversize), 1u);
}

TEST(Sniffer, EachReceiverHearsOnlyItsOwnConsole) {
  std::unique_ptr<DMX_SNIFFER> one = Receiver(1);
  std::unique_ptr<DMX_SNIFFER> two = Receiver(2);
  DmxSender sender;
  sender.Send(1, OneLevel(0, 10, 0x01));
  sender.Send(2, OneLevel(0, 20, 0x02));
  EXPECT_TRUE(Eventually([&] { return LevelOf(*one, 0, 10) == 1 && LevelOf(*two, 0, 20) == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(LevelOf(*one, 0, 20), 0);
  EXPECT_EQ(LevelOf(*two, 0, 10), 0);
  EXPECT_EQ(one->Stats().m_decoded.load(), 1u);
  EXPECT_EQ(two->Stats().m_decoded.load(), 1u);
}

TEST(Sniffer, JoinIgnoresBadConsolesAndRepeatsAndLeaveStopsPromptly) {
  DMX_SNIFFER sniffer;
  sniffer.Join(kLoopback, 0);
  sniffer.Join(kLoopback, 32);
  sniffer.Join(0, 5);
  EXPECT_EQ(sniffer.m_running, 0);
  EXPECT_EQ(sniffer.m_group, -1);
  sniffer.Leave();  // idle: nothing

  sniffer.Join(kLoopback, 31);
  const TASK_ID first = sniffer.m_tid;
  EXPECT_NE(first, kNoTask);
  sniffer.Join(kLoopback, 31);  // the same values: the same task
  EXPECT_EQ(sniffer.m_tid, first);
  EXPECT_EQ(sniffer.m_socket.Memberships().m_items[0].group, MakeAddress(236, 3, 2, 63));

  sniffer.Join(kLoopback, 30);  // new values: restarted on the new group
  EXPECT_EQ(sniffer.m_state, kTaskRunning);
  EXPECT_EQ(sniffer.m_socket.Memberships().m_items[0].group, MakeAddress(236, 3, 2, 62));

  const auto start = Clock::now();
  sniffer.Leave();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1300));
  EXPECT_EQ(sniffer.m_running, 0);
  EXPECT_EQ(sniffer.m_state, kTaskEnded);
  EXPECT_FALSE(sniffer.m_socket.IsOpen());
  EXPECT_EQ(sniffer.m_group, -1);
}

TEST(Sniffer, AFailedSetUpIsReportedAndJoinStillReturns) {
  EchoCapture echo;
  DMX_SNIFFER sniffer;
  sniffer.Join(MakeAddress(192, 0, 2, 1), 4);  // no interface of this machine
  EXPECT_EQ(sniffer.m_tid, kNoTask);
  EXPECT_TRUE(echo.Contains("EXCPT: class EXCPT UDP: CANT INITIALIZE CTASK SNIFFER. TERMINATING!"));
  EXPECT_TRUE(echo.Contains("CTASK SNIFFER Abort OK"));
  sniffer.Join(kLoopback, 4);  // a working interface starts it
  EXPECT_EQ(sniffer.m_state, kTaskRunning);
}

}  // namespace
