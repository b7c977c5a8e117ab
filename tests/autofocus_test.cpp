// Autofocus from the host to the console, checked on the wire through the
// console simulator.
#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>

#include "support/session_fixture.h"
#include "tools/autofocus_args.h"

namespace {

using U32 = std::vector<uint32_t>;

// The little-endian fields of `width` bytes at `offsets` of a packet.
U32 Wire(const std::vector<uint8_t>& packet, size_t width, std::initializer_list<size_t> offsets) {
  U32 fields;
  for (size_t at : offsets) {
    fields.push_back(0);
    for (size_t i = width; i-- > 0;) fields.back() = fields.back() << 8 | packet.at(at + i);
  }
  return fields;
}

const uint8_t* const kUnreadable = reinterpret_cast<const uint8_t*>(uintptr_t{0x10});

class Autofocus : public Session {
 protected:
  // Settles the autofocus kind, connects console 11 to a simulator.
  void Connected(uint32_t explicitMode) {
    registry.Setting("Autofocus", explicitMode);
    DetectAutofocusSupport();
    sim = ConnectedConsole(11);
  }

  // The autofocus packets the console received (heartbeats left out), after
  // waiting for `count` of them or a quiet half second.
  std::vector<SimControlPacket> Received(size_t count = 0) {
    auto packets = [&] {
      std::vector<SimControlPacket> found;
      for (const SimControlPacket& p : sim->ControlPackets())
        if (p.type != PD_HEARTBEAT) found.push_back(p);
      return found;
    };
    if (count > 0) Eventually([&] { return packets().size() >= count; });
    std::this_thread::sleep_for(std::chrono::milliseconds(count > 0 ? 50 : 500));
    return packets();
  }

  // A MIDI autofocus message around `data`, with its checksum.
  static std::vector<uint8_t> Midi(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> message = {0xF0, 0x00, 0x01, 0x09};
    for (uint8_t byte : data) message.push_back(byte);
    message.insert(message.end(), {0x00, 0xF7});
    FixMidiChecksum(message);
    return message;
  }
  static void Send(const std::vector<uint8_t>& m) { SendMIDI(11, 0, static_cast<int32_t>(m.size()), m.data()); }

  std::unique_ptr<ConsoleSimulator> sim;
};

TEST_F(Autofocus, AMidiMessageGoesAsOnePacketOnlyWhenItsFrameLengthAndChecksumAreRight) {
  Connected(2);
  const std::vector<uint8_t> message = Midi({0x10, 0x20, 0x31, 0x42});                         // Length 10
  std::vector<uint8_t> summed = {0xF0, 0x00, 0x01, 0x09, 0xFF, 0x24, 0x00, 0x00, 0x5C, 0xF7};  // sum 0x123
  Send(message), Send(summed);
  const auto packets = Received(2);
  ASSERT_EQ(packets.size(), 2u);
  const std::vector<uint8_t>& b = packets[0].bytes;
  EXPECT_EQ(b.size(), 556u);
  EXPECT_EQ(Wire(b, 4, {8, 16, 36}), (U32{556, 3, 2}));  // TotalLength, the MIDI autofocus type, Count
  EXPECT_EQ(Wire(b, 1, {44, 45, 46, 47}), (U32{0x31, 0x42, message[8], 0xF7}));
  EXPECT_TRUE(echo.Contains("SendMidi: Length 10, code: "));
  EXPECT_TRUE(echo.Contains("<f0> <00> <01> <09> <10> <20> <31> <42> "));

  // Each refused with the message box, and nothing sent.
  std::vector<uint8_t> longest = Midi(std::vector<uint8_t>(245, 1)), shortest = Midi({1, 2, 3}), wrongId = shortest,
                       wrongEnd = shortest;
  wrongId[3] = 0x0A, wrongEnd.back() = 0xF6;
  summed[8] = 0x5D;  // the complement of the sum modulo 128, plus one
  SendMIDI(11, 0, 8, shortest.data());  // the shortest frame, its last byte left out
  for (const std::vector<uint8_t>* bad : {&longest, &wrongId, &wrongEnd, &summed}) Send(*bad);
  EXPECT_EQ(Boxes(), std::vector<std::string>(5, "Error: SendMidi: wrong packet"));
  EXPECT_EQ(Received().size(), 2u);
}

TEST_F(Autofocus, BlindLevelsAndSelectionsSplitIntoPacketsWithSpotStartChannelAndMaskAndWaitForTheSendLock) {
  Connected(1);
  std::vector<ChannelLevel> levels;
  for (int i = 0; i < 129; ++i)
    levels.push_back(ChannelLevel{static_cast<uint16_t>(i + 1), static_cast<uint8_t>(i == 0 ? 255 : i), 0});
  StartBlindAF();
  SetBlindAFChannelData(11, 3, 0, levels.data());  // none: no packet
  SetBlindAFChannelData(11, 3, 128, levels.data());
  SendSpot(11, 3, 42);
  SendStartChannel(11, 3, 100);
  SetBlindAFChannelData(11, 4, 129, levels.data());
  FinishBlindAF();  // the spot is forgotten
  ClearBlindAF();
  // Channel 7 after start channels below one, of one and past 16 bits.
  const std::vector<ChannelLevel> seven(1, ChannelLevel{7, 1, 0});
  for (int32_t start : {-1, 0, 1, INT32_MAX}) {
    SendStartChannel(11, 0, start);
    SetBlindAFChannelData(11, 0, 1, seven.data());
  }
  std::vector<SelectionItem> items;
  for (int i = 0; i < 65; ++i) items.push_back(SelectionItem{"Fixture", 1000 + i, 2, 1 << (i % 8)});
  items[64].Status = 0x100;
  SendBlindAFSelection(11, 64, items.data());
  SendBlindAFSelection(11, 65, items.data());
  SendBlindAFSelection(12, 3, items.data());  // no such console: logged, nothing sent

  const auto packets = Received(10);
  ASSERT_EQ(packets.size(), 10u);
  const std::vector<uint8_t>& one = packets[0].bytes;
  // The blind autofocus DMX type, no spot set yet, the port, Count.
  EXPECT_EQ(Wire(one, 4, {16, 24, 32, 36}), (U32{5, 0xFFFFFFFF, 3, 128}));
  // Channel 1 without a start channel is channel 0; the level as 16 bits.
  EXPECT_EQ(Wire(one, 2, {44, 46, 44 + 4 * 127}), (U32{0, 255, 127}));
  // Packets 1 to 6: the spot (forgotten from packet 3 on), Count, the first
  // channel and its level. Start 100 + channel 1 - 1; record 128 is channel
  // 129; then channel 7 counted from 0, and the low 16 bits of 7 + 2^31 - 1 - 1.
  const U32 rows[] = {{42, 128, 100 | 255u << 16}, {42, 1, 228 | 128u << 16}, {0xFFFFFFFF, 1, 6 | 1u << 16},
                      {0xFFFFFFFF, 1, 6 | 1u << 16}, {0xFFFFFFFF, 1, 7 | 1u << 16}, {0xFFFFFFFF, 1, 5 | 1u << 16}};
  for (size_t i = 1; i <= 6; ++i) EXPECT_EQ(Wire(packets[i].bytes, 4, {24, 36, 44}), rows[i - 1]) << i;
  // The selection type, Count, StatusMask, the first Spot and Status; the
  // mask covers the whole call.
  EXPECT_EQ(Wire(packets[7].bytes, 4, {16, 36, 40, 44, 48}), (U32{6, 64, 0xFF, 1000, 1}));
  EXPECT_EQ(Wire(packets[9].bytes, 4, {36, 40, 44}), (U32{1, 0x1FF, 1064}));
  for (const char* line :
       {"SendAFDMX:  channel offset =1, level=255", "FinishBlindAF: =================================",
        "==================== ClearBlindAF =============", "Selected Items =65\n", "SendSelection: Hdl=c\n",
        " SelNum=64,  Type= Fixture,  Spot=1064, NumParts=2, Status= 256\n"})
    EXPECT_TRUE(echo.Contains(line)) << line;
  EXPECT_EQ(echo.Count("============================\n"), 3);

  // No send starts while another holds the send lock; the count of 11 below
  // also finds any late packet of the calls above.
  const ChannelLevel level{5, 9, 0};
  FindPortMap(11)->SendLock.Lock();
  const size_t before = sim->ControlPackets().size();
  std::atomic<bool> sent{false};
  std::thread host([&] {
    SetBlindAFChannelData(11, 0, 1, &level);
    sent = true;
  });
  // Longer than a heartbeat period: neither the packet nor a heartbeat goes.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_FALSE(sent);
  EXPECT_EQ(sim->ControlPackets().size(), before);
  FindPortMap(11)->SendLock.Unlock();
  host.join();
  EXPECT_EQ(Received(11).size(), 11u);
  EXPECT_TRUE(Eventually([&] { return sim->ControlPackets().size() >= before + 2; }));  // and a heartbeat
}

TEST_F(Autofocus, TheModeDecidesWhichExportsActAndBadHostBuffersAreReportedWithNothingSent) {
  Connected(1);  // blind: MIDI is silent
  const std::vector<uint8_t> message = Midi({1, 2});
  Send(message);
  EXPECT_FALSE(echo.Contains("SendMidi"));
  const std::vector<ChannelLevel> fine(4, ChannelLevel{1, 1, 0});
  SetBlindAFChannelData(11, 0, 4, nullptr);
  SetBlindAFChannelData(11, 0, 1 << 28, fine.data());  // reaches past readable memory
  EXPECT_EQ(echo.Count("SetBlindAFChannelData: Exception "), 2);
  SelectionItem badText{reinterpret_cast<const char*>(kUnreadable), 1, 1, 1};
  SendBlindAFSelection(11, 1, &badText);
  SendBlindAFSelection(11, 1, reinterpret_cast<const SelectionItem*>(kUnreadable));
  EXPECT_EQ(echo.Count("SendBlindAFSelection: Exception "), 2);
  SendPatch(11, reinterpret_cast<const char*>(kUnreadable), 1, 0, nullptr);
  SendPatch(11, "ok", 1, 3, reinterpret_cast<const PatchPartInfo*>(kUnreadable));
  SendPatch(11, std::string(3 * 4096, 'x').c_str(), 1, 0, nullptr);  // no terminator within 4096 characters
  EXPECT_EQ(echo.Count("SendPatch: Exception while accessing Patch Part Info"), 3);
#ifndef _WIN32
  // A text that ends at its page's last byte, before an unreadable page, is read.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(pages + page, page, PROT_NONE);
  std::memcpy(pages + page - 2, "x", 2);
  SendPatch(11, pages + page - 2, 1, 0, nullptr);
  EXPECT_TRUE(echo.Contains("SendPatch: Hdl=b, Type=x, Spot=1, NumParts=0"));
  munmap(pages, 2 * page);
#endif
  EXPECT_TRUE(echo.Contains("SendPatch: Hdl=b, Type=ok, Spot=1, NumParts=3"));

  AutofocusMode = MIDI_AUTOFOCUS;  // MIDI: the blind exports are silent
  const SelectionItem item{"x", 1, 1, 1};
  const int before = static_cast<int>(echo.Messages().size());
  StartBlindAF();
  SendSpot(11, 0, 5);
  SendStartChannel(11, 0, 5);
  SetBlindAFChannelData(11, 0, 1, fine.data());
  SendBlindAFSelection(11, 1, &item);
  FinishBlindAF();
  ClearBlindAF();
  EXPECT_EQ(static_cast<int>(echo.Messages().size()), before);
  SendMIDI(11, 0, 12, kUnreadable);
  SendMIDI(11, 0, 12, nullptr);
  EXPECT_EQ(echo.Count("SendMidi: Exception while accessing Midi Command buffer or sending midi autofocus"), 2);

  AutofocusMode = 0;  // off: neither (a short MIDI message would show its box), but the patch is still logged
  Send(message);
  StartBlindAF();
  PatchPartInfo part{1, 2, 3, 4};
  SendPatch(11, "Spot", 7, 1, &part);
  EXPECT_TRUE(echo.Contains("SendPatch: Hdl=b, Type=Spot, Spot=7, NumParts=1"));
  EXPECT_TRUE(echo.Contains("  Part 0:  CtrlChan=1, PortNum=2, DMXChan=3, NumChans=4"));
  EXPECT_FALSE(echo.Contains("StartBlindAF"));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Received().empty());
}

}  // namespace
