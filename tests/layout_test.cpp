// The sizes and offsets that the host and the consoles depend on, checked on
// the real objects at run time. The pointer-sized ones are those of the
// 32-bit product and are checked in the 32-bit run.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "dmx_net/COMMON/rr_header.h"
#include "dmx_net/COMMON/rr_packet.h"
#include "driver/pvtrivane.h"
#include "protocol/pd_packet.h"
#include "tvnLib/dynamic_pool.h"

namespace {

TEST(Layout, WireAndHostRecordsHaveTheirSizes) {
  EXPECT_EQ(sizeof(PD_PACKET), 556u);
  EXPECT_EQ(sizeof(RrHeader), 48u);
  EXPECT_EQ(sizeof(PDI), 358u);
  EXPECT_EQ(offsetof(PDI, Data), 101u);
  if (sizeof(void*) != 4) GTEST_SKIP() << "pointer-sized records are checked in the 32-bit run";
  EXPECT_EQ(sizeof(SelectionItem), 16u);
  EXPECT_EQ(sizeof(RR_PACKET), 1484u);
}

TEST(Layout, ThePacketPoolHandsOutBlocksFourBytesIntoEachSlot) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the 32-bit pool's slots are checked in the 32-bit run";
  EXPECT_EQ(RrPacketPool().SlotSize(), 1488);
  // A pool of the same geometry, so that the blocks are the first of a part.
  DYNAMIC_POOL pool(static_cast<int32_t>(sizeof(RR_PACKET)), 4, "LAYOUT");
  uint8_t* first = static_cast<uint8_t*>(pool.Alloc());
  uint8_t* second = static_cast<uint8_t*>(pool.Alloc());
  auto* part = static_cast<DYNAMIC_POOL_PART*>(pool.m_first);
  EXPECT_EQ(first, part->m_memory + 4);
  EXPECT_EQ(second, first + 1488);
  pool.Free(second);
  pool.Free(first);
  RR_PACKET* packet = new RR_PACKET;  // the real allocation path
  EXPECT_EQ(reinterpret_cast<uintptr_t>(packet) % 4, 0u);
  delete packet;
}

}  // namespace
