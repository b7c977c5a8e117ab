// The payloads the decoding benchmarks measure, with the level bytes they
// carry, so that the floor (a memcpy of the same bytes) copies exactly
// what the decoder writes.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "dmx_net/COMMON/rr_header.h"
#include "tools/dmx_encode.h"

// A full frame: all 512 channels of each of `universes` universes, as the
// datagrams a console sends for them (two universes to a datagram).
struct FullFrame {
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<std::vector<int>> universesOf;  // per payload
  std::vector<uint8_t> levels;                // 512 per universe
};

inline FullFrame FullFramePayloads(int universes) {
  FullFrame frame;
  frame.levels.resize(512 * static_cast<size_t>(universes));
  for (size_t i = 0; i < frame.levels.size(); ++i) frame.levels[i] = static_cast<uint8_t>(i * 3 + 1);
  for (int u = 0; u < universes; u += 2) {
    std::vector<UniverseBlock> blocks;
    std::vector<int> list;
    for (int v = u; v < u + 2 && v < universes; ++v) {
      blocks.push_back({v, {}});
      AppendLevelRecord(blocks.back().records, frame.levels.data() + 512 * v, nullptr);
      list.push_back(v);
    }
    frame.payloads.push_back(BuildDmxPayload(blocks));
    frame.universesOf.push_back(list);
  }
  return frame;
}

// Ten changed channels in each of 64 universes, as the datagrams a console
// sends for them.
struct SparseFrame {
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<int> channels[64];
  uint8_t source[64][10];
};

inline SparseFrame SparseFramePayloads() {
  SparseFrame sparse;
  std::mt19937 random(7);
  std::vector<uint8_t> previous(64 * 512, 0), levels(64 * 512, 0);
  std::vector<int> universes;
  for (int u = 0; u < 64; ++u) {
    universes.push_back(u);
    while (sparse.channels[u].size() < 10) {
      const int c = static_cast<int>(random() % 512);
      if (levels[512 * u + c] != 0) continue;
      levels[512 * u + c] = static_cast<uint8_t>(1 + random() % 255);
      sparse.channels[u].push_back(c);
    }
    for (int i = 0; i < 10; ++i) sparse.source[u][i] = levels[512 * u + sparse.channels[u][i]];
  }
  for (const std::vector<uint8_t>& datagram : BuildFrame(universes, levels.data(), previous.data()))
    sparse.payloads.emplace_back(datagram.begin() + kRrHeaderSize, datagram.end());
  return sparse;
}
