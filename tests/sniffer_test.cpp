// The DMX receiver task on loopback multicast.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/dmx_sniffer.h"
#include "protocol/pd_packet.h"
#include "support/echo_capture.h"
#include "support/timing.h"
#include "tools/dmx_encode.h"
#include "tvnLib/ipaddress.h"

namespace {

const uint32_t kLoopback = MakeAddress(127, 0, 0, 1);

// The group of console N's DMX, spelled out, not the receiver's own formula.
uint32_t DmxGroupOf(int console) { return ParseDottedAddress(("236.3.2." + std::to_string(32 + console)).c_str()); }

// Sends datagrams from loopback to a console's DMX group, port 9138.
struct DmxSender {
  DmxSender() {
    osSetMulticastIf(m_socket, kLoopback);
    osSetSockOpt(m_socket, OsSockOpt::MulticastLoop, 1);
  }
  ~DmxSender() { osSocketClose(m_socket); }
  void Send(int console, const std::vector<uint8_t>& d) { SendTo(IPADDRESS(9138, DmxGroupOf(console)), d); }
  void SendTo(const IPADDRESS& to, const std::vector<uint8_t>& datagram) {
    osSendTo(m_socket, datagram.data(), static_cast<int>(datagram.size()), &to);
  }
  const OsSocket m_socket = osUdpSocket();
};

std::vector<uint8_t> OneLevel(int universe, int channel, uint8_t level) {
  uint8_t levels[512] = {}, previous[512] = {};
  levels[channel] = level;
  previous[channel] = static_cast<uint8_t>(level + 1);
  std::vector<uint8_t> records;
  AppendLevelRecord(records, levels, previous);
  return BuildDmxDatagram({UniverseBlock{universe, records}});
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

TEST(Sniffer, ReceiversJoinAtOnceAndEachDecodesOnlyItsOwnConsolesAcceptableDatagrams) {
  // Two sessions' receivers join at the same moment; each line's address
  // text must be its own (under ThreadSanitizer, no shared buffer).
  EchoCapture echo;
  std::unique_ptr<DMX_SNIFFER> seven, eight;
  std::thread joiner([&] { seven = Receiver(7); });
  eight = Receiver(8);
  joiner.join();
  for (int console : {7, 8})
    EXPECT_EQ(echo.Count("DMX SNIFFER joining Group " + std::to_string(console) + ", m_interface 127.0.0.1"), 1);
  DmxSender sender;
  sender.Send(7, OneLevel(3, 200, 0x5A));
  sender.Send(8, OneLevel(0, 20, 0x02));
  EXPECT_TRUE(Eventually([&] { return LevelOf(*seven, 3, 200) == 0x5A && LevelOf(*eight, 0, 20) == 2; }));

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
  EXPECT_TRUE(Eventually([&] { return LevelOf(*seven, 3, 203) == 0x33; }));
  EXPECT_EQ((std::vector<int>{LevelOf(*seven, 3, 201), LevelOf(*seven, 3, 202), LevelOf(*seven, 0, 20),
                              LevelOf(*eight, 3, 200)}),
            std::vector<int>(4, 0));
  const DMX_STATS& stats = seven->Stats();
  EXPECT_GE(stats.m_received.load(), 4u);
  // Decoded, dropped by reason, and by sender: one, with its address.
  EXPECT_EQ((std::vector<uint32_t>{stats.m_decoded, stats.Dropped(DmxDrop::NotDmxDataNew),
                                   stats.Dropped(DmxDrop::Oversize), eight->Stats().m_decoded, stats.m_senderCount}),
            (std::vector<uint32_t>{2, 1, 1, 1, 1}));
  EXPECT_EQ(stats.m_senders[0].m_address.load(), kLoopback);
#ifdef __linux__
  // Each socket hears only the groups it joined; a datagram sent to the
  // port, not to the group, is known by its destination and passed over.
  EXPECT_EQ(stats.Dropped(DmxDrop::OtherGroup), 0u);
  sender.SendTo(IPADDRESS(9138, kLoopback), OneLevel(3, 205, 0x55));
  EXPECT_TRUE(Eventually(
      [&] { return stats.Dropped(DmxDrop::OtherGroup) + eight->Stats().Dropped(DmxDrop::OtherGroup) == 1; }));
  EXPECT_EQ(LevelOf(*seven, 3, 205) + LevelOf(*eight, 3, 205), 0);
#endif
  // A second sender to the group is told, with its console's number.
  DmxSender().Send(7, OneLevel(3, 204, 0x44));
  EXPECT_TRUE(Eventually([&] { return echo.Contains("DMX console 7: a second sender, 127.0.0.1:"); }));
}

TEST(Sniffer, JoinTakesOnlyAUsableConsoleAndInterfaceOnItsLiteralGroupAndLeaveStopsPromptly) {
  for (int console = 1; console <= 31; ++console) {  // the control and DMX groups of every console
    EXPECT_EQ(ConsoleGroup(console), ParseDottedAddress(("236.3.3." + std::to_string(console)).c_str())) << console;
    EXPECT_EQ(DmxGroup(console), DmxGroupOf(console)) << console;
  }
  EchoCapture echo;
  DMX_SNIFFER sniffer;
  for (const auto& [interfaceAddr, console] : {std::pair<uint32_t, int>{kLoopback, 0}, {kLoopback, 32}, {0, 5}})
    sniffer.Join(interfaceAddr, console);
  EXPECT_EQ(sniffer.m_running, 0);
  EXPECT_EQ(sniffer.m_group, -1);
  sniffer.Leave();  // idle: nothing

  sniffer.Join(MakeAddress(192, 0, 2, 1), 4);  // no interface of this machine: reported, and Join returns
  EXPECT_EQ(sniffer.m_tid, kNoTask);
  EXPECT_TRUE(echo.Contains("EXCPT: class EXCPT UDP: CANT INITIALIZE CTASK SNIFFER. TERMINATING!"));
  EXPECT_TRUE(echo.Contains("CTASK SNIFFER Abort OK"));

  sniffer.Join(kLoopback, 31);  // a working interface starts it
  const TASK_ID first = sniffer.m_tid;
  EXPECT_NE(first, kNoTask);
  sniffer.Join(kLoopback, 31);  // the same values: the same task
  EXPECT_EQ(sniffer.m_tid, first);
  EXPECT_EQ(sniffer.m_socket.Memberships().m_items[0].group, MakeAddress(236, 3, 2, 63));

  sniffer.Join(kLoopback, 30);  // new values: restarted on the new group
  EXPECT_EQ(sniffer.m_running, 1);
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

}  // namespace
