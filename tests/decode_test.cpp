// The DMX network decoder and the acceptance rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dmx_net/COMMON/dmx_network_decode.h"
#include "dmx_net/COMMON/rr_header.h"
#include "support/echo_capture.h"
#include "tools/dmx_encode.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A level record that sets channel 0 (type 1, M0, M1 and M2 naming it).
Bytes Channel0(uint8_t level) { return {0x01, 0x01, 0x01, 0x01, level}; }

class Decoder : public testing::Test {
 protected:
  Decoder() { for (int u = 0; u < kUniverses; ++u) coder.AddUniverse(u); }
  bool Decode(const Bytes& payload) { return coder.Decode(payload.data(), static_cast<int>(payload.size())); }
  const LevelBank& Bank(int universe, int bank = 1) const { return coder.Universe(universe)->m_banks[bank]; }
  uint8_t Level(int universe, int channel, int bank = 1) const { return Bank(universe, bank).m_levels[channel]; }
  int NonZero(int universe, int bank = 1) const {
    const uint8_t* levels = Bank(universe, bank).m_levels;
    return kChannels - static_cast<int>(std::count(levels, levels + kChannels, 0));
  }
  static Bytes OneBlock(int universe, const Bytes& records) { return BuildDmxPayload({{universe, records}}); }

  DMX_DATA_CODER coder;
};

TEST_F(Decoder, LevelRecordsSetTheNamedChannelsOfTheirBankAndLevelsPersist) {
  // The worked example: channels 0 and 2 of universe 0.
  EXPECT_TRUE(Decode({0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x06, 0x00, 0x01, 0x01, 0x01, 0x05, 0xFF, 0x80}));
  EXPECT_EQ(Level(0, 0), 255);
  EXPECT_EQ(Level(0, 2), 128);
  EXPECT_EQ(NonZero(0), 2);
  EXPECT_EQ(NonZero(0, 2), 0);
  // The last channel; a full block in bank 2, then only its changes.
  Decode(OneBlock(5, {0x01, 0x80, 0x80, 0x80, 0x2A}));
  EXPECT_EQ(Level(5, 511), 0x2A);
  EXPECT_EQ(NonZero(5), 1);

  uint8_t levels[512], changed[512];
  for (int c = 0; c < 512; ++c) levels[c] = changed[c] = static_cast<uint8_t>(c * 7 + 1);
  changed[100] = 0, changed[300] = 9;
  Bytes full, changes;
  ASSERT_TRUE(AppendLevelRecord(full, levels, nullptr, 2));
  ASSERT_TRUE(AppendLevelRecord(changes, changed, levels, 2));
  EXPECT_LT(changes.size(), 10u);
  Decode(OneBlock(63, full));
  EXPECT_EQ(std::memcmp(Bank(63, 2).m_levels, levels, 512), 0);
  Decode(OneBlock(63, changes));
  EXPECT_EQ(std::memcmp(Bank(63, 2).m_levels, changed, 512), 0);
  EXPECT_EQ(Level(5, 511), 0x2A);  // other universes keep their levels
}

TEST_F(Decoder, EmptyBlocksEndMarksAndUniversesOutOfTheTable) {
  EXPECT_TRUE(Decode(BuildDmxPayload({})));  // all mask bytes 0
  EXPECT_TRUE(Decode(OneBlock(1, {})));      // length 0
  EXPECT_TRUE(Decode(OneBlock(1, {0x00})));  // only the end mark
  EXPECT_EQ(NonZero(1), 0);
  EXPECT_TRUE(Decode(OneBlock(1, {0x01, 0x01, 0x01, 0x01, 0x11, 0x00})));  // records then the end mark
  EXPECT_EQ(Level(1, 0), 0x11);

  for (int u : {0, 64, -1}) EXPECT_EQ(coder.AddUniverse(u), 0) << u;  // there already, out of the table
  EXPECT_EQ(coder.RemoveUniverse(0), 1);
  EXPECT_EQ(coder.RemoveUniverse(0), 0);
  EXPECT_EQ(coder.LevelsOf(0), nullptr);
  Decode(BuildDmxPayload({{0, Channel0(0x22)}, {3, Channel0(0x33)}}));
  EXPECT_EQ(Level(3, 0), 0x33);
  coder.Universe(3)->m_enabled = 0;
  Decode(BuildDmxPayload({{3, Channel0(0x44)}, {4, Channel0(0x45)}}));
  EXPECT_EQ(Level(3, 0), 0x33);
  EXPECT_EQ(Level(4, 0), 0x45);
  EXPECT_EQ(coder.AddUniverse(0), 1);
  EXPECT_NE(coder.LevelsOf(0), nullptr);
}

TEST_F(Decoder, AMalformedBlockDropsTheRestButKeepsWhatWasApplied) {
  EchoCapture echo;
  // Universe u's block breaks after what it applied (channel 0 at `kept`);
  // u + 1's is dropped.
  const auto broken = [&](int u, const Bytes& records, uint8_t kept) {
    return !Decode(BuildDmxPayload({{u, records}, {u + 1, Channel0(0x77)}})) && Level(u, 0) == kept &&
           Level(u + 1, 0) == 0;
  };
  EXPECT_TRUE(broken(6, {0x01, 0x01, 0x01, 0x01, 0x66, 0x00, 0x01}, 0x66));  // bytes after the end mark
  EXPECT_TRUE(broken(8, {0x01, 0x01, 0x01, 0x01, 0x88, 0x09}, 0x88));        // an illegal data type
  EXPECT_TRUE(broken(13, {0x03, 0x09, 0xB1, 0xB2, 0xB3}, 0));                // a raw record of 9 bytes in 3
  EXPECT_EQ(echo.Count("ILLEGAL DMX DATA TYPE !"), 1);
  EXPECT_EQ(Bank(13).m_ring.m_next, 0);
  EXPECT_EQ(Bank(13).m_ring.m_storage[0], 0);
  // Masks that name more levels than the block holds; a block longer than
  // the payload; a payload shorter than its mask.
  EXPECT_FALSE(Decode(OneBlock(10, {0x01, 0xFF, 0xFF})));
  Bytes cut = OneBlock(11, Channel0(0xAA));
  cut.pop_back();
  EXPECT_FALSE(Decode(cut));
  for (int u : {10, 11}) EXPECT_EQ(NonZero(u), 0) << u;
  EXPECT_FALSE(Decode(Bytes{0, 0, 0, 0, 1, 0}));
}

TEST_F(Decoder, AFullGroupMaskWithOneGroupNotFullTakesTheGroupByGroupPath) {
  // M0 names block 0; M1 = 0xFF names all eight groups, but group 1 is not
  // full (M2 = 0xFE): the 64-channel shortcut must not apply.
  Bytes records = {0x01, 0x01, 0xFF};  // type 1, M0, M1; channel c's level is c + 1
  for (int g = 0; g < 8; ++g) {
    records.push_back(g == 1 ? 0xFE : 0xFF);  // group 1: channels 9..15
    for (int c = g == 1 ? 1 : 0; c < 8; ++c) records.push_back(static_cast<uint8_t>(8 * g + c + 1));
  }
  // A second, empty level record, so that 72 bytes follow M1 as in a full
  // block and only the group mask tells the two apart.
  records.insert(records.end(), {0x01, 0x00});
  Decode(OneBlock(12, records));
  for (int c = 0; c < 64; ++c) EXPECT_EQ(Level(12, c), c == 8 ? 0 : c + 1) << c;  // 8: not named
  EXPECT_EQ(NonZero(12), 63);
}

TEST_F(Decoder, RawRecordsFillTheTwoSlotRingInTurn) {
  Decode(OneBlock(0, {0x03, 0x02, 0xA1, 0xA2}));
  Decode(OneBlock(0, {0x03, 0x01, 0xB1}));
  Decode(OneBlock(0, {0x03, 0x00, 0x04, 0x01, 0xD1}));
  const uint8_t *one = Bank(0).m_ring.m_storage, *two = Bank(0, 2).m_ring.m_storage;
  // The third record, of length 0, went to slot 0 and wrote its length only.
  EXPECT_EQ(Bytes(one, one + 2), (Bytes{0, 0xA1}));
  EXPECT_EQ(Bytes(one + 256, one + 258), (Bytes{1, 0xB1}));
  EXPECT_EQ(Bytes(two, two + 2), (Bytes{1, 0xD1}));
  for (int bank : {1, 2}) EXPECT_EQ(Bank(0, bank).m_ring.m_next, 1) << bank;
}

TEST(AcceptanceRule, TakesOnlyWholeDmxDataNewOfVersion7WithoutTheFlag) {
  Bytes good(68, 0);  // the header spelled out: PayloadLength 20, version 7, type 24
  good[8] = 20, good[12] = 24, good[15] = 7 << 2;
  EXPECT_TRUE(RrAcceptDmxDataNew(good.data(), 68));
  EXPECT_FALSE(RrAcceptDmxDataNew(good.data(), 67));  // length mismatch
  EXPECT_FALSE(RrAcceptDmxDataNew(good.data(), 47));  // shorter than a header
  // One header byte changed: "DMX Data", the flag (bit 5), version 6.
  for (const auto& [at, value] : std::vector<std::pair<int, uint8_t>>{{12, 23}, {12, 24 | 0x20}, {15, 6 << 2}}) {
    Bytes bad = good;
    bad[at] = value;
    EXPECT_FALSE(RrAcceptDmxDataNew(bad.data(), 68)) << at << ": " << int{value};
  }

  RrHeader fresh;  // as a new buffer holds it
  EXPECT_EQ(static_cast<uint32_t>(fresh.ControlWord), 0x03FFC01Fu);
  EXPECT_EQ(fresh.PacketType(), 31u);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&fresh)[24], 1);
}

}  // namespace
