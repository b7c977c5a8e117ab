// The DMX network decoder and the acceptance rule.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dmx_net/COMMON/dmx_network_decode.h"
#include "dmx_net/COMMON/rr_header.h"
#include "support/echo_capture.h"
#include "tools/dmx_encode.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Decoder : public testing::Test {
 protected:
  void SetUp() override {
    for (int u = 0; u < kUniverses; ++u) coder.AddUniverse(u);
  }
  void Decode(const Bytes& payload) { coder.Decode(payload.data(), static_cast<int>(payload.size())); }
  uint8_t Level(int universe, int channel, int bank = 1) const {
    return coder.Universe(universe)->m_banks[bank].m_levels[channel];
  }
  int NonZero(int universe, int bank = 1) const {
    int n = 0;
    for (int c = 0; c < kChannels; ++c) n += Level(universe, c, bank) != 0 ? 1 : 0;
    return n;
  }
  // A payload with one block for `universe`.
  static Bytes OneBlock(int universe, const Bytes& records) {
    return BuildDmxPayload({UniverseBlock{universe, records}});
  }

  DMX_DATA_CODER coder;
};

TEST_F(Decoder, WorkedExampleSetsTwoChannelsOfUniverseZero) {
  const Bytes payload = {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x06, 0x00, 0x01, 0x01, 0x01, 0x05, 0xFF, 0x80};
  ASSERT_EQ(payload.size(), 20u);
  Decode(payload);
  EXPECT_EQ(Level(0, 0), 255);
  EXPECT_EQ(Level(0, 2), 128);
  EXPECT_EQ(NonZero(0), 2);
  EXPECT_EQ(NonZero(0, 2), 0);

  Bytes datagram(48, 0);
  datagram[8] = 20;                               // PayloadLength
  const uint32_t controlWord = 7u << 26 | 24u;    // version 7, DMX_DATA_NEW
  std::memcpy(datagram.data() + 12, &controlWord, 4);
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  EXPECT_EQ(datagram.size(), 68u);
  EXPECT_TRUE(RrAcceptDmxDataNew(datagram.data(), 68));
}

TEST_F(Decoder, LastChannelFullBlocksAndLevelsThatPersist) {
  Decode(OneBlock(5, {0x01, 0x80, 0x80, 0x80, 0x2A}));
  EXPECT_EQ(Level(5, 511), 0x2A);
  EXPECT_EQ(NonZero(5), 1);

  uint8_t levels[512];
  for (int c = 0; c < 512; ++c) levels[c] = static_cast<uint8_t>(c * 7 + 1);
  Bytes records;
  ASSERT_TRUE(AppendLevelRecord(records, levels, nullptr, 2));
  Decode(OneBlock(63, records));
  EXPECT_EQ(std::memcmp(coder.Universe(63)->m_banks[2].m_levels, levels, 512), 0);

  uint8_t changed[512];
  std::memcpy(changed, levels, 512);
  changed[100] = 0;
  changed[300] = 9;
  records.clear();
  ASSERT_TRUE(AppendLevelRecord(records, changed, levels, 2));
  EXPECT_LT(records.size(), 10u);
  Decode(OneBlock(63, records));
  EXPECT_EQ(std::memcmp(coder.Universe(63)->m_banks[2].m_levels, changed, 512), 0);
  EXPECT_EQ(Level(5, 511), 0x2A);  // other universes keep their levels
}

TEST_F(Decoder, EmptyBlocksEndMarksAndSkippedUniverses) {
  Decode(BuildDmxPayload({}));  // all mask bytes 0
  Decode(OneBlock(1, {}));      // length 0
  Decode(OneBlock(1, {0x00}));  // only the end mark
  EXPECT_EQ(NonZero(1), 0);
  Decode(OneBlock(1, {0x01, 0x01, 0x01, 0x01, 0x11, 0x00}));  // records then the end mark
  EXPECT_EQ(Level(1, 0), 0x11);

  coder.RemoveUniverse(2);
  Decode(BuildDmxPayload({UniverseBlock{2, {0x01, 0x01, 0x01, 0x01, 0x22}},
                          UniverseBlock{3, {0x01, 0x01, 0x01, 0x01, 0x33}}}));
  EXPECT_EQ(Level(3, 0), 0x33);
  coder.Universe(3)->m_enabled = 0;
  Decode(BuildDmxPayload({UniverseBlock{3, {0x01, 0x01, 0x01, 0x01, 0x44}},
                          UniverseBlock{4, {0x01, 0x01, 0x01, 0x01, 0x45}}}));
  EXPECT_EQ(Level(3, 0), 0x33);
  EXPECT_EQ(Level(4, 0), 0x45);
}

TEST_F(Decoder, AMalformedBlockDropsTheRestButKeepsWhatWasApplied) {
  EchoCapture echo;
  // End mark followed by more bytes of the same block.
  Decode(BuildDmxPayload({UniverseBlock{6, {0x01, 0x01, 0x01, 0x01, 0x66, 0x00, 0x01}},
                          UniverseBlock{7, {0x01, 0x01, 0x01, 0x01, 0x77}}}));
  EXPECT_EQ(Level(6, 0), 0x66);
  EXPECT_EQ(Level(7, 0), 0);
  // An illegal data type.
  Decode(BuildDmxPayload({UniverseBlock{8, {0x01, 0x01, 0x01, 0x01, 0x88, 0x09}},
                          UniverseBlock{9, {0x01, 0x01, 0x01, 0x01, 0x99}}}));
  EXPECT_EQ(Level(8, 0), 0x88);
  EXPECT_EQ(Level(9, 0), 0);
  EXPECT_EQ(echo.Count("ILLEGAL DMX DATA TYPE !"), 1);
  // Masks that name more levels than the block holds; a block longer than
  // the payload.
  Decode(OneBlock(10, {0x01, 0xFF, 0xFF}));
  Bytes cut = OneBlock(11, {0x01, 0x01, 0x01, 0x01, 0xAA});
  cut.resize(cut.size() - 1);
  Decode(cut);
  EXPECT_EQ(NonZero(10), 0);
  EXPECT_EQ(NonZero(11), 0);
  Decode(Bytes{0, 0, 0, 0, 1, 0});  // shorter than its mask
}

TEST_F(Decoder, AFullGroupMaskWithOneGroupNotFullTakesTheGroupByGroupPath) {
  // M0 names block 0; M1 = 0xFF names all eight groups, but group 1 is not
  // full (M2 = 0xFE): the 64-channel shortcut must not apply.
  Bytes records = {0x01, 0x01, 0xFF, 0xFF};  // type 1, M0, M1, group 0's M2
  for (int c = 0; c < 8; ++c) records.push_back(static_cast<uint8_t>(0x10 + c));
  records.push_back(0xFE);  // group 1: channels 9..15
  for (int c = 1; c < 8; ++c) records.push_back(static_cast<uint8_t>(0x20 + c));
  for (int g = 2; g < 8; ++g) {
    records.push_back(0xFF);
    for (int c = 0; c < 8; ++c) records.push_back(static_cast<uint8_t>(0x30 + g));
  }
  // A second, empty level record, so that 72 bytes follow M1 as in a full
  // block and only the group mask tells the two apart.
  records.push_back(0x01);
  records.push_back(0x00);
  Decode(OneBlock(12, records));
  EXPECT_EQ(Level(12, 0), 0x10);
  EXPECT_EQ(Level(12, 7), 0x17);
  EXPECT_EQ(Level(12, 8), 0);  // not named by group 1's mask
  EXPECT_EQ(Level(12, 9), 0x21);
  EXPECT_EQ(Level(12, 15), 0x27);
  EXPECT_EQ(Level(12, 16), 0x32);
  EXPECT_EQ(Level(12, 63), 0x37);
  EXPECT_EQ(NonZero(12), 63);
}

TEST_F(Decoder, ARawRecordLongerThanItsBlockIsDroppedWithTheRest) {
  // The record claims 9 bytes; its block holds 3 after the length byte.
  Decode(BuildDmxPayload({UniverseBlock{13, {0x03, 0x09, 0xB1, 0xB2, 0xB3}},
                          UniverseBlock{14, {0x01, 0x01, 0x01, 0x01, 0x44}}}));
  const RecordRing& ring = coder.Universe(13)->m_banks[1].m_ring;
  EXPECT_EQ(ring.m_next, 0);
  EXPECT_EQ(ring.m_storage[0], 0);
  EXPECT_EQ(Level(14, 0), 0);
}

TEST_F(Decoder, RawRecordsFillTheTwoSlotRingInTurn) {
  Decode(OneBlock(0, {0x03, 0x02, 0xA1, 0xA2}));
  Decode(OneBlock(0, {0x03, 0x01, 0xB1}));
  Decode(OneBlock(0, {0x03, 0x00, 0x04, 0x01, 0xD1}));
  const RecordRing& ring = coder.Universe(0)->m_banks[1].m_ring;
  EXPECT_EQ(ring.m_slots, 2);
  EXPECT_EQ(ring.m_storage[0], 0);  // the third record, of length 0, went to slot 0
  EXPECT_EQ(ring.m_storage[1], 0xA1);  // a record of length 0 writes its length only
  EXPECT_EQ(ring.m_storage[256], 1);
  EXPECT_EQ(ring.m_storage[257], 0xB1);
  EXPECT_EQ(ring.m_next, 1);
  const RecordRing& bank2 = coder.Universe(0)->m_banks[2].m_ring;
  EXPECT_EQ(bank2.m_storage[0], 1);
  EXPECT_EQ(bank2.m_storage[1], 0xD1);
  EXPECT_EQ(bank2.m_next, 1);
}

TEST_F(Decoder, TableCallsRefuseWhatIsThereOrOutOfRange) {
  EXPECT_EQ(coder.AddUniverse(0), 0);
  EXPECT_EQ(coder.AddUniverse(64), 0);
  EXPECT_EQ(coder.AddUniverse(-1), 0);
  EXPECT_EQ(coder.RemoveUniverse(0), 1);
  EXPECT_EQ(coder.RemoveUniverse(0), 0);
  EXPECT_EQ(coder.LevelsOf(0), nullptr);
  EXPECT_EQ(coder.AddUniverse(0), 1);
  EXPECT_NE(coder.LevelsOf(0), nullptr);
}

TEST(AcceptanceRule, DropsEveryOtherKindOfDatagram) {
  const Bytes good = BuildDmxDatagram({UniverseBlock{0, {0x00}}});
  const int n = static_cast<int>(good.size());
  EXPECT_TRUE(RrAcceptDmxDataNew(good.data(), n));
  EXPECT_FALSE(RrAcceptDmxDataNew(good.data(), n - 1));  // length mismatch
  EXPECT_FALSE(RrAcceptDmxDataNew(BuildDmxDatagram({}, 23).data(), 60));  // "DMX Data"
  EXPECT_FALSE(RrAcceptDmxDataNew(BuildDmxDatagram({}, 24, 6).data(), 60));  // version 6
  Bytes flagged = good;
  flagged[12] |= 0x20;  // bit 5
  EXPECT_FALSE(RrAcceptDmxDataNew(flagged.data(), n));
  EXPECT_FALSE(RrAcceptDmxDataNew(good.data(), 47));

  RrHeader fresh;
  EXPECT_EQ(static_cast<uint32_t>(fresh.ControlWord), 0x03FFC01Fu);
  EXPECT_EQ(fresh.PacketType(), 31u);
}

}  // namespace
