// Figure 7: heap allocations per datagram and per heartbeat. Every call of
// malloc and its kin in this process is counted: the functions below take
// the C library's place for the whole process (the C++ library's operator
// new calls them too).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "../bench_util.h"
#include "../figures.h"
#include "protocol/dmx_sniffer.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tools/console_sim.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

extern "C" {
void* malloc(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  *out = memalign(alignment, size);
  return *out != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* p) { __libc_free(p); }
}

void AllocationFigures(int frames) {
  constexpr uint16_t kConsole = 22;
  {
    SimOptions options;
    options.console = kConsole;
    options.rateHz = 0;
    ConsoleSimulator sim(options);
    std::string error;
    if (!sim.Start(&error) || AddPortMap(kConsole) != kConsole) {
      std::fprintf(stderr, "pv_bench: cannot connect the simulated console: %s\n", error.c_str());
      return;
    }
  }  // the simulator's own allocations end here
  RawSender sender(DmxGroupOf(kConsole), DmxPort);
  std::vector<std::vector<uint8_t>> stream;
  for (int f = 0; f < frames; ++f)
    for (auto& d : FrameDatagrams(64, f % 2 == 0 ? 0 : 10, static_cast<uint32_t>(f + 1))) stream.push_back(std::move(d));
  while (VisibleSequence(kConsole) != 1) {  // the receiver has joined
    sender.Send(FrameDatagrams(2, 0, 1)[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const DMX_STATS& stats = FindPortMap(kConsole)->DmxStats;
  const uint32_t decodedBefore = stats.m_decoded;

  // Datagrams streamed and read as the host reads them.
  const uint64_t before = g_allocations;
  for (size_t i = 0; i < stream.size(); ++i) {
    sender.Send(stream[i]);
    if (i % 16 == 15) {
      VisibleSequence(kConsole);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  const auto sent = BenchClock::now();
  while (stats.m_decoded - decodedBefore < stream.size() && UsSince(sent) < 2e6)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const uint64_t perStream = g_allocations - before;
  const uint32_t decoded = stats.m_decoded - decodedBefore;

  // Heartbeats only: five of them, nothing else happening.
  const uint64_t beatsBefore = g_allocations;
  std::this_thread::sleep_for(std::chrono::milliseconds(4600));
  const uint64_t perBeats = g_allocations - beatsBefore;
  RemovePortMap(kConsole);
  std::printf("allocations: %llu over %u datagrams decoded, %llu over 5 heartbeats\n",
              static_cast<unsigned long long>(perStream), decoded, static_cast<unsigned long long>(perBeats));
  Report("heap allocations per datagram", decoded > 0 ? static_cast<double>(perStream) / decoded : -1, 0, "allocations",
         false);
  Report("heap allocations per heartbeat", static_cast<double>(perBeats) / 5, 0, "allocations", false);
}
