// Autofocus from the host to the console, checked on the wire through the
// console simulator.
#include "support/driver_fixture.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "sessions/ports.h"
#include "tools/autofocus_args.h"
#include "tools/console_sim.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

const uint8_t* const kUnreadable = reinterpret_cast<const uint8_t*>(uintptr_t{0x10});

class Autofocus : public DriverTest {
 protected:
  // Settles the autofocus kind, connects console 11 to a simulator.
  void Connected(uint32_t explicitMode) {
    registry.Setting("Autofocus", explicitMode);
    DetectAutofocusSupport();
    LoopbackSettings(11);
    SimOptions options;
    options.console = 11;
    options.rateHz = 0;
    sim.reset(new ConsoleSimulator(options));
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    PDI pdi;
    std::memset(&pdi, 0, sizeof pdi);
    pdi.Data[0] = 11;
    ASSERT_EQ(Connect(&pdi), 11);
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

  static std::vector<uint8_t> Midi(std::vector<uint8_t> data) {
    std::vector<uint8_t> message(4 + data.size() + 2, 0);
    message[0] = 0xF0;
    message[3] = 0x09;
    message[2] = 0x01;
    for (size_t i = 0; i < data.size(); ++i) message[4 + i] = data[i];
    message.pop_back();
    message.push_back(0xF7);
    FixMidiChecksum(message);
    return message;
  }

  std::unique_ptr<ConsoleSimulator> sim;
};

TEST_F(Autofocus, MidiMessageGoesAsOnePacketWithItsDataBytes) {
  Connected(2);
  const std::vector<uint8_t> message = Midi({0x10, 0x20, 0x31, 0x42});  // Length 10
  ASSERT_EQ(message.size(), 10u);
  SendMIDI(11, 0, 10, message.data());
  const auto packets = Received(1);
  ASSERT_EQ(packets.size(), 1u);
  const std::vector<uint8_t>& b = packets[0].bytes;
  EXPECT_EQ(b.size(), 556u);
  EXPECT_EQ(packets[0].type, PD_MIDI_AUTOFOCUS);
  EXPECT_EQ(Le32(b, 8), 556u);
  EXPECT_EQ(Le32(b, 36), 2u);  // Count
  EXPECT_EQ(b[44], 0x31);
  EXPECT_EQ(b[45], 0x42);
  EXPECT_EQ(b[46], message[8]);
  EXPECT_EQ(b[47], 0xF7);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(echo.Contains("SendMidi: Length 10, code: "));
  EXPECT_TRUE(echo.Contains("<f0> <00> <01> <09> <10> <20> <31> <42> "));
}

TEST_F(Autofocus, TheChecksumIsTheComplementOfTheSumModulo128) {
  Connected(2);
  std::vector<uint8_t> message = {0xF0, 0x00, 0x01, 0x09, 0xFF, 0x24, 0x00, 0x00, 0x5C, 0xF7};  // sum 0x123
  SendMIDI(11, 0, 10, message.data());
  EXPECT_EQ(Received(1).size(), 1u);
  message[8] = 0x5D;
  SendMIDI(11, 0, 10, message.data());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error: SendMidi: wrong packet"}));
  EXPECT_EQ(Received().size(), 1u);
}

TEST_F(Autofocus, MalformedMidiMessagesAreRefusedWithTheMessageBox) {
  Connected(2);
  std::vector<uint8_t> longest = Midi(std::vector<uint8_t>(245, 1));  // Length 251
  SendMIDI(11, 0, 251, longest.data());
  std::vector<uint8_t> ok = Midi({1, 2, 3});
  SendMIDI(11, 0, 8, ok.data());  // Length 8
  std::vector<uint8_t> wrongId = ok;
  wrongId[3] = 0x0A;
  SendMIDI(11, 0, static_cast<int32_t>(wrongId.size()), wrongId.data());
  std::vector<uint8_t> wrongEnd = ok;
  wrongEnd.back() = 0xF6;
  SendMIDI(11, 0, static_cast<int32_t>(wrongEnd.size()), wrongEnd.data());
  EXPECT_EQ(Boxes().size(), 4u);
  for (const std::string& box : Boxes()) EXPECT_EQ(box, "Error: SendMidi: wrong packet");
  EXPECT_TRUE(Received().empty());
}

TEST_F(Autofocus, BlindLevelsSplitAt128PairsWithSpotAndStartChannel) {
  Connected(1);
  std::vector<ChannelLevel> levels;
  for (int i = 0; i < 129; ++i) levels.push_back(ChannelLevel{static_cast<uint16_t>(i + 1), static_cast<uint8_t>(i == 0 ? 255 : i), 0});
  StartBlindAF();
  SetBlindAFChannelData(11, 3, 0, levels.data());  // none: no packet
  SetBlindAFChannelData(11, 3, 128, levels.data());
  auto packets = Received(1);
  ASSERT_EQ(packets.size(), 1u);
  const std::vector<uint8_t>& one = packets[0].bytes;
  EXPECT_EQ(packets[0].type, PD_BLIND_AF_DMX);
  EXPECT_EQ(one.size(), 556u);
  EXPECT_EQ(Le32(one, 24), 0xFFFFFFFFu);  // no spot set yet
  EXPECT_EQ(Le32(one, 32), 3u);
  EXPECT_EQ(Le32(one, 36), 128u);
  EXPECT_EQ(Le16(one, 44), 0);    // channel 1 without a start channel is channel 0
  EXPECT_EQ(Le16(one, 46), 255);  // the level as 16 bits
  EXPECT_EQ(Le16(one, 44 + 4 * 127), 127);

  SendSpot(11, 3, 42);
  SendStartChannel(11, 3, 100);
  SetBlindAFChannelData(11, 4, 129, levels.data());
  packets = Received(3);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(Le32(packets[1].bytes, 36), 128u);
  EXPECT_EQ(Le32(packets[2].bytes, 36), 1u);
  EXPECT_EQ(Le32(packets[1].bytes, 24), 42u);
  EXPECT_EQ(Le32(packets[2].bytes, 24), 42u);
  EXPECT_EQ(Le16(packets[1].bytes, 44), 100);  // start 100 + channel 1 - 1
  EXPECT_EQ(Le16(packets[2].bytes, 44), 228);  // record 128: channel 129

  FinishBlindAF();
  SendStartChannel(11, 3, 0);
  SetBlindAFChannelData(11, 0, 1, levels.data());
  packets = Received(4);
  EXPECT_EQ(Le32(packets[3].bytes, 24), 0xFFFFFFFFu);
  EXPECT_EQ(Le16(packets[3].bytes, 44), 0);
  EXPECT_TRUE(echo.Contains("SendAFDMX:  channel offset =1, level=255"));
  EXPECT_TRUE(echo.Contains("FinishBlindAF: ================================="));
}

TEST_F(Autofocus, SelectionsSplitAt64AndTheMaskCoversTheWholeCall) {
  Connected(1);
  std::vector<SelectionItem> items;
  for (int i = 0; i < 65; ++i) items.push_back(SelectionItem{"Fixture", 1000 + i, 2, 1 << (i % 8)});
  items[64].Status = 0x100;
  SendBlindAFSelection(11, 64, items.data());
  auto packets = Received(1);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, PD_BLIND_AF_SELECTION);
  EXPECT_EQ(Le32(packets[0].bytes, 36), 64u);
  EXPECT_EQ(Le32(packets[0].bytes, 40), 0xFFu);
  EXPECT_EQ(Le32(packets[0].bytes, 44), 1000u);
  EXPECT_EQ(Le32(packets[0].bytes, 48), 1u);

  SendBlindAFSelection(11, 65, items.data());
  packets = Received(3);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(Le32(packets[2].bytes, 36), 1u);
  EXPECT_EQ(Le32(packets[2].bytes, 40), 0x1FFu);
  EXPECT_EQ(Le32(packets[2].bytes, 44), 1064u);
  EXPECT_TRUE(echo.Contains("Selected Items =65\n"));
  EXPECT_TRUE(echo.Contains(" SelNum=64,  Type= Fixture,  Spot=1064, NumParts=2, Status= 256\n"));
  EXPECT_EQ(echo.Count("============================\n"), 2);

  SendBlindAFSelection(12, 3, items.data());  // no such console: logged, nothing sent
  EXPECT_TRUE(echo.Contains("SendSelection: Hdl=c\n"));
  EXPECT_EQ(echo.Count("============================\n"), 3);
  EXPECT_EQ(Received().size(), 3u);
}

TEST_F(Autofocus, TheModeDecidesWhichExportsAct) {
  Connected(1);  // blind: MIDI is silent
  const std::vector<uint8_t> message = Midi({1, 2});
  SendMIDI(11, 0, static_cast<int32_t>(message.size()), message.data());
  EXPECT_FALSE(echo.Contains("SendMidi"));
  EXPECT_TRUE(Received().empty());

  ResetDriverState();
  AutofocusMode = MIDI_AUTOFOCUS;  // MIDI: the blind exports are silent
  InterfaceAddr = ParseDottedAddress("127.0.0.1");
  ChannelLevel level{1, 1, 0};
  SelectionItem item{"x", 1, 1, 1};
  const int before = static_cast<int>(echo.Messages().size());
  StartBlindAF();
  SendSpot(11, 0, 5);
  SendStartChannel(11, 0, 5);
  SetBlindAFChannelData(11, 0, 1, &level);
  SendBlindAFSelection(11, 1, &item);
  FinishBlindAF();
  ClearBlindAF();
  EXPECT_EQ(static_cast<int>(echo.Messages().size()), before);
  EXPECT_EQ(BlindAFSpot, 0xFFFFFFFFu);

  AutofocusMode = 0;  // off: neither, but the patch is still logged
  SendMIDI(11, 0, static_cast<int32_t>(message.size()), message.data());
  StartBlindAF();
  PatchPartInfo part{1, 2, 3, 4};
  SendPatch(11, "Spot", 7, 1, &part);
  EXPECT_TRUE(echo.Contains("SendPatch: Hdl=b, Type=Spot, Spot=7, NumParts=1"));
  EXPECT_TRUE(echo.Contains("  Part 0:  CtrlChan=1, PortNum=2, DMXChan=3, NumChans=4"));
  EXPECT_FALSE(echo.Contains("StartBlindAF"));
  EXPECT_TRUE(Received().empty());
}

TEST_F(Autofocus, BadHostBuffersAreReportedAndNothingIsSent) {
  Connected(1);
  const std::vector<ChannelLevel> fine(4, ChannelLevel{1, 1, 0});
  SetBlindAFChannelData(11, 0, 4, nullptr);
  SetBlindAFChannelData(11, 0, 1 << 28, fine.data());  // reaches past readable memory
  EXPECT_EQ(echo.Count("SetBlindAFChannelData: Exception "), 2);
  SelectionItem badText{reinterpret_cast<const char*>(kUnreadable), 1, 1, 1};
  SendBlindAFSelection(11, 1, &badText);
  SendBlindAFSelection(11, 2, reinterpret_cast<const SelectionItem*>(kUnreadable));
  EXPECT_EQ(echo.Count("SendBlindAFSelection: Exception "), 2);
  SendPatch(11, reinterpret_cast<const char*>(kUnreadable), 1, 0, nullptr);
  SendPatch(11, "ok", 1, 3, reinterpret_cast<const PatchPartInfo*>(kUnreadable));
  EXPECT_EQ(echo.Count("SendPatch: Exception while accessing Patch Part Info"), 2);
  EXPECT_TRUE(echo.Contains("SendPatch: Hdl=b, Type=ok, Spot=1, NumParts=3"));
  EXPECT_TRUE(Received().empty());

  ResetDriverState();
  AutofocusMode = MIDI_AUTOFOCUS;
  SendMIDI(11, 0, 12, kUnreadable);
  SendMIDI(11, 0, 12, nullptr);
  EXPECT_EQ(echo.Count("SendMidi: Exception while accessing Midi Command buffer or sending midi autofocus"), 2);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Received().empty());
}

TEST_F(Autofocus, NoSendStartsWhileAnotherHoldsTheSendLock) {
  Connected(1);
  ASSERT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 1, 3000));
  PORTS* session = FindPortMap(11);
  std::vector<ChannelLevel> levels(1, ChannelLevel{5, 9, 0});
  session->SendLock.Lock();
  const size_t before = sim->ControlPackets().size();
  std::atomic<bool> sent{false};
  std::thread host([&] {
    SetBlindAFChannelData(11, 0, 1, levels.data());
    sent = true;
  });
  // Longer than a heartbeat period: neither the packet nor a heartbeat goes.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_FALSE(sent);
  EXPECT_EQ(sim->ControlPackets().size(), before);
  session->SendLock.Unlock();
  host.join();
  EXPECT_EQ(Received(1).size(), 1u);
  EXPECT_TRUE(sim->WaitForControl(PD_HEARTBEAT, 3, 3000));
}

TEST_F(Autofocus, StartChannelsBelowOneOffsetNothingAndHugeOnesKeepTheLow16Bits) {
  Connected(1);
  std::vector<ChannelLevel> levels(1, ChannelLevel{7, 1, 0});
  for (int32_t start : {-1, 0, 1, INT32_MAX}) {
    SendStartChannel(11, 0, start);
    SetBlindAFChannelData(11, 0, 1, levels.data());
  }
  const auto packets = Received(4);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(Le16(packets[0].bytes, 44), 6);  // channel 7 is channel 6 counted from 0
  EXPECT_EQ(Le16(packets[1].bytes, 44), 6);
  EXPECT_EQ(Le16(packets[2].bytes, 44), 7);
  EXPECT_EQ(Le16(packets[3].bytes, 44), 5);  // the low 16 bits of 7 + 2^31 - 1 - 1
}

}  // namespace
