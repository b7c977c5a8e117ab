// The block pool against the heap for one 1484-byte packet buffer, one
// thread and two threads.
#include <benchmark/benchmark.h>

#include "dmx_net/COMMON/rr_packet.h"
#include "tvnLib/dynamic_pool.h"

namespace {

constexpr int32_t kPacketBytes = 1484;

DYNAMIC_POOL& Pool() {
  static DYNAMIC_POOL pool(kPacketBytes, 1024, "BENCH");
  return pool;
}

void BM_PoolAllocFree(benchmark::State& state) {
  DYNAMIC_POOL& pool = Pool();
  for (auto _ : state) {
    void* block = pool.Alloc();
    benchmark::DoNotOptimize(block);
    pool.Free(block);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_HeapNewDelete(benchmark::State& state) {
  for (auto _ : state) {
    uint8_t* block = new uint8_t[kPacketBytes];
    benchmark::DoNotOptimize(block);
    delete[] block;
  }
  state.SetItemsProcessed(state.iterations());
}

// The receiver's own use: a packet object from the "RR_PACKET" pool.
void BM_RrPacketNewDelete(benchmark::State& state) {
  for (auto _ : state) {
    RR_PACKET* packet = new (std::nothrow) RR_PACKET;
    benchmark::DoNotOptimize(packet);
    delete packet;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PoolAllocFree)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_HeapNewDelete)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_RrPacketNewDelete);

}  // namespace
