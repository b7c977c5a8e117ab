#include "host_view.h"

#include <string>

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 15]);
  }
  return text;
}

// The universes in `state` as 8 mask bytes, universe 0 the lowest bit.
std::string Mask(const HostConsole& c, UniverseState state, uint32_t nowMs) {
  uint8_t mask[8] = {};
  for (int u = 0; u < 64; ++u)
    if (StateOf(c, u, nowMs) == state) mask[u / 8] |= static_cast<uint8_t>(1u << (u % 8));
  return Hex(mask, 8);
}

}  // namespace

UniverseState StateOf(const HostConsole& c, int u, uint32_t nowMs) {
  if (c.watched) {
    const UniverseHealth& h = c.heard.universe[u];
    if (h.datagrams == 0) return UniverseState::Silent;
    return h.Lost(c.heardNowMs) ? UniverseState::Lost : UniverseState::Streaming;
  }
  if (c.changed[u] != 0 && nowMs - c.changed[u] < kUniverseLostMs) return UniverseState::Streaming;
  const uint8_t* levels = c.levels.data() + 512 * u;
  for (int i = 0; i < 512; ++i)
    if (levels[i] != 0) return UniverseState::Streaming;
  return UniverseState::Silent;
}

void PrintJson(FILE* out, const std::vector<HostConsole>& consoles, uint64_t frame, uint32_t ms, int universe,
               int channels, uint32_t nowMs) {
  std::fprintf(out, "{\"frame\":%llu,\"ms\":%u,\"consoles\":[", static_cast<unsigned long long>(frame), ms);
  for (size_t i = 0; i < consoles.size(); ++i) {
    const HostConsole& c = consoles[i];
    std::fprintf(
        out, "%s{\"handle\":%u,\"channels\":%d,\"live\":\"%s\",\"lost\":\"%s\",\"universe\":%d,\"levels\":\"%s\"}",
        i ? "," : "", c.handle, channels, Mask(c, UniverseState::Streaming, nowMs).c_str(),
        Mask(c, UniverseState::Lost, nowMs).c_str(), universe, Hex(c.levels.data() + 512 * universe, 512).c_str());
  }
  std::fprintf(out, "]}\n");
  std::fflush(out);
}

void PrintView(FILE* out, const std::vector<HostConsole>& consoles, uint64_t frame, int universe, LevelView view,
               uint32_t nowMs) {
  static const char kMarks[] = {'.', '#', 'x'};  // silent, streaming, lost
  const char* const kViewNames[] = {"0-255", "percent", "hex"};
  const int perRow = view == LevelView::Hex ? 32 : 16;
  std::fprintf(out, "\x1b[H\x1b[2J");
  std::fprintf(out, "previsa-host  frame %llu  (Ctrl-C ends)   # streaming  x lost (no datagram for 2 s)  . silent\n\n",
               static_cast<unsigned long long>(frame));
  for (const HostConsole& c : consoles) {
    std::fprintf(out, "console %2u  universes 0..63: ", c.handle);
    for (int u = 0; u < 64; ++u) std::fputc(kMarks[static_cast<int>(StateOf(c, u, nowMs))], out);
    std::fprintf(out, "\n  universe %d, channels 1-512, levels %s:\n", universe, kViewNames[static_cast<int>(view)]);
    const uint8_t* levels = c.levels.data() + 512 * universe;
    for (int first = 0; first < 512; first += perRow) {
      std::fprintf(out, "  %3d ", first + 1);
      for (int i = first; i < first + perRow; ++i) {
        const unsigned level = levels[i];
        if (view == LevelView::Hex) std::fprintf(out, "%02x", level);
        if (view == LevelView::Decimal) std::fprintf(out, " %3u", level);
        if (view == LevelView::Percent) std::fprintf(out, " %3u", (level * 100 + 127) / 255);
      }
      std::fputc('\n', out);
    }
    std::fputc('\n', out);
  }
  std::fflush(out);
}
