// Intrusive lists, the block pool and the bit set.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/echo_capture.h"
#include "support/platform.h"
#include "tvnLib/bitfield.h"
#include "tvnLib/dynamic_pool.h"
#include "dmx_net/COMMON/rr_packet.h"
#include "tvnLib/flist.h"

namespace {

struct Node : FNODE {
  explicit Node(int v, std::vector<int>* log = nullptr) : value(v), destroyed(log) {}
  ~Node() override {
    if (destroyed != nullptr) destroyed->push_back(value);
  }
  int value;
  std::vector<int>* destroyed;
};

std::vector<int> Order(const FLIST& list) {
  std::vector<int> values;
  for (FNODE* n = list.m_first; n != nullptr; n = n->m_next) values.push_back(static_cast<Node*>(n)->value);
  return values;
}

std::vector<int> ReverseOrder(const FLIST& list) {
  std::vector<int> values;
  for (FNODE* n = list.m_last; n != nullptr; n = n->m_prev) values.insert(values.begin(), static_cast<Node*>(n)->value);
  return values;
}

TEST(Flist, InsertKeepsOrderAndLinksAgreeAndMovesANodeOutOfItsOldList) {
  FLIST one, two;  // before the nodes, which leave them as they go
  Node a(1), b(2), c(3), x(9);
  for (Node* n : {&a, &b, &c}) one.Prepend(n);
  EXPECT_EQ(Order(one), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(ReverseOrder(one), Order(one));
  EXPECT_EQ(one.m_count, 3);
  for (Node* n : {&a, &b, &c}) two.Append(n);  // taken over
  EXPECT_EQ(Order(two), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(one.m_count, 0);
  EXPECT_EQ(one.m_first, nullptr);
  EXPECT_EQ(one.m_last, nullptr);

  one.Append(&x);
  EXPECT_EQ(one.Insert(&b, &x), 1);
  EXPECT_EQ(Order(two), (std::vector<int>{1, 3}));
  EXPECT_EQ(ReverseOrder(two), (std::vector<int>{1, 3}));
  EXPECT_EQ(Order(one), (std::vector<int>{2, 9}));
  EXPECT_EQ(b.m_list, &one);
  EXPECT_EQ(two.m_count, 2);
  // Within one list: before itself changes nothing, elsewhere moves it.
  EXPECT_EQ(one.Insert(&b, &b), 1);
  EXPECT_EQ(Order(one), (std::vector<int>{2, 9}));
  EXPECT_EQ(one.Insert(&b, nullptr), 1);
  EXPECT_EQ(Order(one), (std::vector<int>{9, 2}));
  EXPECT_EQ(one.m_count, 2);
  // Nodes of another list, and null, are refused.
  EXPECT_EQ((std::vector<int>{one.Remove(&a), one.Delete(&a), one.Remove(nullptr), one.Insert(nullptr, nullptr)}),
            std::vector<int>(4, 0));
}

TEST(Flist, DestroyedNodeLeavesItsListAndDeleteAllGoesFromTheLast) {
  std::vector<int> destroyed;
  FLIST list;
  Node* middle = new Node(2, &destroyed);
  for (Node* n : {new Node(1, &destroyed), middle, new Node(3, &destroyed)}) list.Append(n);
  delete middle;
  EXPECT_EQ(Order(list), (std::vector<int>{1, 3}));
  EXPECT_EQ(list.m_count, 2);
  list.Append(new Node(4, &destroyed));
  list.DeleteAll();
  EXPECT_EQ(destroyed, (std::vector<int>{2, 4, 3, 1}));
  EXPECT_EQ(list.m_count, 0);
  EXPECT_EQ(list.m_first, nullptr);
}

TEST(Flist, PtrListGivesItsOwnerOnlyWhileTheNodeIsIn) {
  struct Owner {};
  Owner owner, other;
  PTR_FLIST<Owner, int> list(&owner), otherList(&other);
  int object = 7;
  PTR_FNODE<int, Owner> node(&object);
  EXPECT_EQ(node.m_owner, nullptr);
  list.Prepend(&node);
  EXPECT_EQ(node.m_owner, &owner);
  EXPECT_EQ(node.m_object, &object);
  otherList.Append(&node);
  EXPECT_EQ(node.m_owner, &other);
  otherList.Remove(&node);
  EXPECT_EQ(node.m_owner, nullptr);
}

// A death test's statement: the echo on standard error, then `body`.
template <typename Body>
void InDeathTest(Body body) {
  EchoToStderrInThisProcess();
  body();
}

constexpr int32_t kBlock = 100;
constexpr int32_t kPerPart = 1024;

TEST(DynamicPool, BlocksComeInAddressOrderReusedLastFirstAndPartsComeAndGo) {
  DYNAMIC_POOL pool(kBlock, kPerPart, "TEST");
  auto* part = static_cast<DYNAMIC_POOL_PART*>(pool.m_first);
  std::vector<uint8_t*> blocks;
  for (int i = 0; i < kPerPart; ++i) blocks.push_back(static_cast<uint8_t*>(pool.Alloc()));
  EXPECT_EQ(blocks[0], part->m_memory + DYNAMIC_POOL::kLinkSize);
  EXPECT_EQ(blocks[1], blocks[0] + pool.SlotSize());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks[0]) % alignof(void*), 0u);
  EXPECT_TRUE(sizeof(void*) != 4 || RrPacketPool().SlotSize() == 1488);  // the product's packets
  for (int i : {1, 3}) pool.Free(blocks[i]);
  EXPECT_EQ(pool.Alloc(), blocks[3]);  // the last freed comes back first
  EXPECT_EQ(part->NthUsed(0), blocks[0] - DYNAMIC_POOL::kLinkSize);  // slots in use, in address order
  EXPECT_EQ(part->NthUsed(1), blocks[2] - DYNAMIC_POOL::kLinkSize);
  EXPECT_EQ(part->NthUsed(kPerPart - 1), nullptr);
  EXPECT_EQ(pool.Alloc(), blocks[1]);
  void* extra = pool.Alloc();  // the 1025th
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(pool.PartCount(), 2);
  pool.Free(extra);
  EXPECT_EQ(pool.PartCount(), 1);
  for (uint8_t* b : blocks) pool.Free(b);
  EXPECT_EQ(pool.PartCount(), 1);  // the last part stays
  EXPECT_EQ(part->m_freeCount, kPerPart);
}

TEST(DynamicPool, ManyThreadsAllocateAndFreeWithoutLosingABlock) {
  DYNAMIC_POOL pool(kBlock, 16, "TEST");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&pool, t] {
      std::vector<uint8_t*> mine;
      for (int round = 0; round < 2000; ++round) {
        uint8_t* block = static_cast<uint8_t*>(pool.Alloc());
        block[0] = static_cast<uint8_t>(t);
        mine.push_back(block);
        if (mine.size() > 40) {
          for (uint8_t* b : mine) ASSERT_EQ(b[0], t);
          for (uint8_t* b : mine) pool.Free(b);
          mine.clear();
        }
      }
      for (uint8_t* b : mine) pool.Free(b);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(pool.PartCount(), 1);
}

TEST(DynamicPoolDeathTest, FreeingNullOrAForeignBlockOrDestroyingAPoolInUseEndsTheProcess) {
  for (bool foreign : {false, true})
    EXPECT_EXIT(InDeathTest([&] {
                  DYNAMIC_POOL a(kBlock, 4, "A"), b(kBlock, 4, "B");
                  b.Free(foreign ? a.Alloc() : nullptr);
                }),
                testing::ExitedWithCode(0), OnStderr("Assertion failed: 0,\nFile: tvnLib/dynamic_pool.cpp\nLine: 57"))
        << (foreign ? "a foreign block" : "null");
  EXPECT_EXIT(InDeathTest([] {
                auto* pool = new DYNAMIC_POOL(kBlock, 8, "TEST");
                for (int i = 0; i < 3; ++i) pool->Alloc();
                delete pool;
              }),
              testing::ExitedWithCode(0),
              OnStderr("DYNAMIC_POOL NOT EMPTY !!!!\n.*IN USE: \\w+\n.*IN USE: \\w+\n.*IN USE: \\w+\n.*"
                       "Assertion failed: 0,\nFile: tvnLib/dynamic_pool.cpp\nLine: 113"));
}

TEST(Bitfield, RoundsUpToWholeWordsAndAssertsBeyond) {
  BITFIELD bits(33);
  EXPECT_EQ(bits.m_words, 2);
  EXPECT_EQ(bits.max_bits, 64);
  for (int bit : {0, 63}) bits.SetBit(bit);
  EXPECT_EQ((std::vector<int>{bits.TestBit(0), bits.TestBit(1), bits.TestBit(63)}), (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(bits.m_bits[1], 0x80000000u);
  EXPECT_EXIT(InDeathTest([&] { bits.SetBit(64); }), testing::ExitedWithCode(0),
              OnStderr("bit<max_bits,\nFile: tvnLib/bitfield.cpp\nLine: 275"));
}

}  // namespace
