// Decoding DMX_DATA_NEW payloads against the physical floor: a memcpy of
// the same level bytes into the same banks. Also counts heap allocations in
// the decode path (there must be none).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "dmx_net/COMMON/dmx_network_decode.h"
#include "payloads.h"

// Every heap allocation of this program is counted: the replacement
// operators below pair malloc with free, which the compiler cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

struct Coder {
  Coder() {
    for (int u = 0; u < kUniverses; ++u) coder.AddUniverse(u);
  }
  DMX_DATA_CODER coder;
};

void BM_DecodeTwoFullUniverses(benchmark::State& state) {
  static Coder c;
  const std::vector<uint8_t> payload = FullFramePayloads(2).payloads[0];
  const uint64_t before = g_allocations;
  for (auto _ : state) {
    c.coder.Decode(payload.data(), static_cast<int>(payload.size()));
    benchmark::ClobberMemory();
  }
  state.counters["allocs"] = static_cast<double>(g_allocations - before);
  state.SetBytesProcessed(state.iterations() * 1024);
}

// The floor: the same 1024 level bytes copied into the banks, with the
// coder's lock taken per packet as Decode does (argument 1) or without (0).
void BM_MemcpyTwoFullUniverses(benchmark::State& state) {
  static Coder c;
  const bool locked = state.range(0) != 0;
  uint8_t levels[2][512];
  std::memset(levels, 7, sizeof levels);
  for (auto _ : state) {
    if (locked) c.coder.Lock();
    for (int u = 0; u < 2; ++u) std::memcpy(c.coder.LevelsOf(u), levels[u], 512);
    if (locked) c.coder.Unlock();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 1024);
}

void BM_DecodeSparse64Universes(benchmark::State& state) {
  static Coder c;
  static const SparseFrame sparse = SparseFramePayloads();
  const uint64_t before = g_allocations;
  for (auto _ : state) {
    for (const std::vector<uint8_t>& payload : sparse.payloads)
      c.coder.Decode(payload.data(), static_cast<int>(payload.size()));
    benchmark::ClobberMemory();
  }
  state.counters["allocs"] = static_cast<double>(g_allocations - before);
  state.counters["datagrams"] = static_cast<double>(sparse.payloads.size());
  state.SetBytesProcessed(state.iterations() * 640);
}

void BM_MemcpySparse64Universes(benchmark::State& state) {
  static Coder c;
  static const SparseFrame sparse = SparseFramePayloads();
  for (auto _ : state) {
    for (size_t p = 0; p < sparse.payloads.size(); ++p) {
      c.coder.Lock();
      for (int u = static_cast<int>(p) * 64 / static_cast<int>(sparse.payloads.size());
           u < static_cast<int>(p + 1) * 64 / static_cast<int>(sparse.payloads.size()); ++u) {
        uint8_t* bank = c.coder.LevelsOf(u);
        for (int i = 0; i < 10; ++i) std::memcpy(bank + sparse.channels[u][i], &sparse.source[u][i], 1);
      }
      c.coder.Unlock();
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 640);
}

BENCHMARK(BM_DecodeTwoFullUniverses);
BENCHMARK(BM_MemcpyTwoFullUniverses)->ArgName("locked")->Arg(1)->Arg(0);
BENCHMARK(BM_DecodeSparse64Universes);
BENCHMARK(BM_MemcpySparse64Universes);

}  // namespace
