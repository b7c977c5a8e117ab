// Writes the fuzzer's seed corpus: the worked example and a few valid
// multi-universe packets from the encoder.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dmx_encode.h"

namespace {

void Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  // Channels 0 and 2 of universe 0 to 255 and 128.
  Write(dir, "worked_example", BuildDmxDatagram({UniverseBlock{0, {0x01, 0x01, 0x01, 0x05, 0xFF, 0x80}}}));

  uint8_t full[512], sparse[512] = {}, zero[512] = {};
  for (int c = 0; c < 512; ++c) full[c] = static_cast<uint8_t>(c * 5);
  sparse[0] = 1;
  sparse[100] = 2;
  sparse[511] = 3;
  std::vector<UniverseBlock> two(2);
  for (int u = 0; u < 2; ++u) {
    two[u].universe = u * 40;
    AppendLevelRecord(two[u].records, full, nullptr, static_cast<uint8_t>(1 + u));
  }
  Write(dir, "two_full_universes", BuildDmxDatagram(two));

  std::vector<UniverseBlock> many;
  for (int u = 0; u < 64; u += 5) {
    UniverseBlock block{u, {}};
    AppendLevelRecord(block.records, sparse, zero, 2);
    block.records.insert(block.records.end(), {0x03, 0x02, 0xAA, 0xBB, 0x04, 0x00, 0x00});
    many.push_back(block);
  }
  Write(dir, "sparse_many_universes", BuildDmxDatagram(many));
  Write(dir, "empty_blocks", BuildDmxDatagram({UniverseBlock{3, {}}, UniverseBlock{63, {0x00}}}));
  return 0;
}
