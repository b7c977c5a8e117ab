#include "dmx_encode.h"

#include <algorithm>
#include <cstring>

namespace {

bool Changed(const uint8_t* levels, const uint8_t* previous, int channel) {
  return previous == nullptr || levels[channel] != previous[channel];
}

void PutHeader(std::vector<uint8_t>& datagram, size_t payloadLength, uint32_t packetType, uint32_t version) {
  RrHeader header;
  header.PayloadLength = static_cast<uint16_t>(payloadLength);
  header.ControlWord = (version << 26) | (packetType & 0x1Fu);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&header);
  datagram.insert(datagram.begin(), bytes, bytes + sizeof header);
}

}  // namespace

bool AppendLevelRecord(std::vector<uint8_t>& out, const uint8_t* levels, const uint8_t* previous, uint8_t dataType) {
  uint8_t m0 = 0;
  uint8_t m1[8] = {};
  uint8_t m2[64] = {};
  for (int channel = 0; channel < 512; ++channel) {
    if (!Changed(levels, previous, channel)) continue;
    m0 |= static_cast<uint8_t>(1u << (channel / 64));
    m1[channel / 64] |= static_cast<uint8_t>(1u << (channel / 8 % 8));
    m2[channel / 8] |= static_cast<uint8_t>(1u << (channel % 8));
  }
  if (m0 == 0) return false;
  out.push_back(dataType);
  out.push_back(m0);
  for (int i = 0; i < 8; ++i) {
    if ((m0 & (1u << i)) == 0) continue;
    out.push_back(m1[i]);
    for (int j = 0; j < 8; ++j) {
      if ((m1[i] & (1u << j)) == 0) continue;
      const int group = 8 * i + j;
      out.push_back(m2[group]);
      for (int k = 0; k < 8; ++k)
        if ((m2[group] & (1u << k)) != 0) out.push_back(levels[8 * group + k]);
    }
  }
  return true;
}

std::vector<uint8_t> BuildDmxPayload(const std::vector<UniverseBlock>& blocks) {
  std::vector<uint8_t> payload(12, 0);
  std::vector<UniverseBlock> sorted = blocks;
  std::sort(sorted.begin(), sorted.end(),
            [](const UniverseBlock& a, const UniverseBlock& b) { return a.universe < b.universe; });
  for (const UniverseBlock& block : sorted) {
    payload[4 + block.universe / 8] |= static_cast<uint8_t>(1u << (block.universe % 8));
    const size_t length = block.records.size();
    payload.push_back(static_cast<uint8_t>(length));
    payload.push_back(static_cast<uint8_t>(length >> 8));
    payload.insert(payload.end(), block.records.begin(), block.records.end());
  }
  return payload;
}

std::vector<uint8_t> BuildDmxDatagram(const std::vector<UniverseBlock>& blocks, uint32_t packetType, uint32_t version) {
  std::vector<uint8_t> datagram = BuildDmxPayload(blocks);
  PutHeader(datagram, datagram.size(), packetType, version);
  return datagram;
}

std::vector<std::vector<uint8_t>> BuildFrame(const std::vector<int>& universes, const uint8_t* levels,
                                             const uint8_t* previous, uint32_t version, uint32_t packetType) {
  std::vector<std::vector<uint8_t>> datagrams;
  std::vector<UniverseBlock> pending;
  size_t pendingBytes = 12;
  for (size_t i = 0; i < universes.size(); ++i) {
    UniverseBlock block{universes[i], {}};
    if (!AppendLevelRecord(block.records, levels + 512 * i, previous != nullptr ? previous + 512 * i : nullptr))
      continue;
    const size_t bytes = 2 + block.records.size();
    if (pendingBytes + bytes > static_cast<size_t>(kRrMaxPayload)) {
      datagrams.push_back(BuildDmxDatagram(pending, packetType, version));
      pending.clear();
      pendingBytes = 12;
    }
    pending.push_back(std::move(block));
    pendingBytes += bytes;
  }
  if (!pending.empty()) datagrams.push_back(BuildDmxDatagram(pending, packetType, version));
  return datagrams;
}
