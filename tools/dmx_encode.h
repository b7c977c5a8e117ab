// Builds datagrams of the consoles' DMX network, as a console sends them:
// DMX_DATA_NEW packets whose universe blocks carry level records in the
// sparse bit-tree encoding. Used by the console simulator, the tests, the
// benchmarks and the fuzzer's seed corpus; not part of the driver.
#pragma once

#include <cstdint>
#include <vector>

#include "../dmx_net/COMMON/rr_header.h"

// Appends one level record (data type 1 or 2) naming the channels whose
// level differs from `previous` (every channel when `previous` is null).
// Appends nothing and returns false when no channel is named.
bool AppendLevelRecord(std::vector<uint8_t>& out, const uint8_t* levels, const uint8_t* previous, uint8_t dataType = 1);

// One universe of a packet: its block's records (without the length).
struct UniverseBlock {
  int universe;
  std::vector<uint8_t> records;
};

// A whole datagram: the 48-byte header (version 7, type 24, PayloadLength)
// and the payload (4 unread bytes, the universe mask, the blocks in
// ascending universe order).
std::vector<uint8_t> BuildDmxDatagram(const std::vector<UniverseBlock>& blocks, uint32_t packetType = DMX_DATA_NEW,
                                      uint32_t version = kRrVersion);

// The same payload without the header.
std::vector<uint8_t> BuildDmxPayload(const std::vector<UniverseBlock>& blocks);

// Splits the universes of one frame into as few datagrams as fit the
// 1468-byte limit. `levels` holds 512 bytes per universe in `universes`;
// `previous` (same shape, or null) limits each universe to its changes.
// `version` and `packetType` go into each header (the driver reads only 7
// and DMX_DATA_NEW).
std::vector<std::vector<uint8_t>> BuildFrame(const std::vector<int>& universes, const uint8_t* levels,
                                             const uint8_t* previous, uint32_t version = kRrVersion,
                                             uint32_t packetType = DMX_DATA_NEW);
