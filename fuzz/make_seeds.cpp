// Writes the decoder fuzzer's seed corpus: the worked example and a few
// valid multi-universe packets from the encoder.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/dmx_encode.h"

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: make_seeds DIR\n"), 2;
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream f(std::string(argv[1]) + "/" + name, std::ios::binary);
    if (!f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
      std::perror(name), std::exit(1);
  };
  // Channels 0 and 2 of universe 0 to 255 and 128.
  write("worked_example", BuildDmxDatagram({UniverseBlock{0, {0x01, 0x01, 0x01, 0x05, 0xFF, 0x80}}}));
  uint8_t full[512], sparse[512] = {}, zero[512] = {};
  for (int c = 0; c < 512; ++c) full[c] = static_cast<uint8_t>(c * 5);
  sparse[0] = 1, sparse[100] = 2, sparse[511] = 3;
  std::vector<UniverseBlock> two = {{0, {}}, {40, {}}}, many;  // bank 1 and bank 2
  for (int u = 0; u < 2; ++u) AppendLevelRecord(two[u].records, full, nullptr, static_cast<uint8_t>(1 + u));
  write("two_full_universes", BuildDmxDatagram(two));
  for (int u = 0; u < 64; u += 5) {
    many.push_back({u, {}});
    AppendLevelRecord(many.back().records, sparse, zero, 2);
    many.back().records.insert(many.back().records.end(), {0x03, 0x02, 0xAA, 0xBB, 0x04, 0x00, 0x00});
  }
  write("sparse_many_universes", BuildDmxDatagram(many));
  write("empty_blocks", BuildDmxDatagram({UniverseBlock{3, {}}, UniverseBlock{63, {0x00}}}));
  return 0;
}
