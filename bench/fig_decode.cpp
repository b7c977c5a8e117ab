// Figure 1: decoding, in levels per second, beside its floor: a memcpy of
// the same level bytes into the same banks under the levels' lock, taken
// once per datagram as the decoder takes it.
#include <cstring>

#include "bench_util.h"
#include "dmx_net/COMMON/dmx_network_decode.h"
#include "figures.h"
#include "payloads.h"

namespace {

// Levels per second of `pass` (which handles `levels` levels), the best of
// three runs of `seconds` / 3 each.
template <typename Pass>
double LevelsPerSecond(double seconds, double levels, Pass pass) {
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    const auto start = BenchClock::now();
    uint64_t passes = 0;
    do {
      for (int i = 0; i < 64; ++i) pass();
      passes += 64;
    } while (UsSince(start) < seconds / 3 * 1e6);
    best = std::max(best, levels * static_cast<double>(passes) / (UsSince(start) / 1e6));
  }
  return best;
}

struct Coder {
  Coder() {
    for (int u = 0; u < kUniverses; ++u) coder.AddUniverse(u);
  }
  DMX_DATA_CODER coder;
};

volatile uint8_t g_sink;

}  // namespace

void DecodeFigures(double seconds) {
  Coder c;
  RESOURCE& lock = c.coder.Store().Guard();

  const FullFrame full = FullFramePayloads(64);
  const double decodeFull = LevelsPerSecond(seconds, 64 * 512, [&] {
    for (const auto& payload : full.payloads) c.coder.Decode(payload.data(), static_cast<int>(payload.size()));
  });
  const double copyFull = LevelsPerSecond(seconds, 64 * 512, [&] {
    for (const std::vector<int>& universes : full.universesOf) {
      lock.Lock();
      for (int u : universes) std::memcpy(c.coder.LevelsOf(u), full.levels.data() + 512 * u, 512);
      lock.Unlock();
    }
  });
  g_sink = c.coder.LevelsOf(63)[511];
  Report("decode full (64 universes, 512 channels each)", decodeFull, copyFull, "levels/s", true);

  const SparseFrame sparse = SparseFramePayloads();
  const double decodeSparse = LevelsPerSecond(seconds, 640, [&] {
    for (const auto& payload : sparse.payloads) c.coder.Decode(payload.data(), static_cast<int>(payload.size()));
  });
  const int datagrams = static_cast<int>(sparse.payloads.size());
  const double copySparse = LevelsPerSecond(seconds, 640, [&] {
    for (int p = 0; p < datagrams; ++p) {
      lock.Lock();
      for (int u = p * 64 / datagrams; u < (p + 1) * 64 / datagrams; ++u) {
        uint8_t* bank = c.coder.LevelsOf(u);
        for (int i = 0; i < 10; ++i) std::memcpy(bank + sparse.channels[u][i], &sparse.source[u][i], 1);
      }
      lock.Unlock();
    }
  });
  g_sink = c.coder.LevelsOf(63)[511];
  Report("decode sparse (10 channels in each of 64 universes)", decodeSparse, copySparse, "levels/s", true);
}
