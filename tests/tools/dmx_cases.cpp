// Writes captures for the dissector's tests and what the driver makes of
// each DMX datagram in them, judged by the driver's own acceptance rule and
// decoder:
//
//   pv_dmx_cases golden FILE.pcapng FILE.expected   fixed cases, DMX and control
//   pv_dmx_cases random FILE.pcapng FILE.expected SEED COUNT   broken datagrams
//
// One expected line per DMX datagram, in capture order:
//   verdict code | universes whose host levels change | their channel=level lists
// with the lists separated by ";" and channels numbered 1-512. The codes are
// the dissector's: 0 decoded, 1 malformed, 2 oversize, 3 shorter than the
// header, 4 version, 5 length, 6 type, 7 no-decode flag.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dmx_net/COMMON/dmx_network_decode.h"
#include "dmx_net/COMMON/rr_header.h"
#include "protocol/pd_packet.h"
#include "tools/capture_file.h"
#include "tools/dmx_encode.h"
#include "tools/traffic_tally.h"
#include "tvnLib/ipaddress.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The levels one payload leaves for the host in each universe: decoded into
// a store of zeros and one of 0xFF, a channel was written where both agree.
std::string HostLevels(const Bytes& d, bool* whole) {
  DMX_DATA_CODER zeros, ones;
  for (int u = 0; u < 64; ++u) {
    zeros.AddUniverse(u);
    ones.AddUniverse(u);
    RESOURCE_LOCK lock(&ones, nullptr);
    std::memset(ones.LevelsOf(u), 0xFF, 512);
  }
  const int length = static_cast<int>(d.size()) - kRrHeaderSize;
  *whole = zeros.Decode(d.data() + kRrHeaderSize, length);
  ones.Decode(d.data() + kRrHeaderSize, length);
  std::string universes, lists;
  for (int u = 0; u < 64; ++u) {
    std::string list;
    RESOURCE_LOCK a(&zeros, nullptr), b(&ones, nullptr);
    for (int c = 0; c < 512; ++c)
      if (zeros.LevelsOf(u)[c] == ones.LevelsOf(u)[c])
        list += (list.empty() ? "" : ",") + std::to_string(c + 1) + "=" + std::to_string(zeros.LevelsOf(u)[c]);
    if (list.empty()) continue;
    universes += (universes.empty() ? "" : ";") + std::to_string(u);
    lists += (lists.empty() ? "" : ";") + list;
  }
  return universes + "|" + lists;
}

std::string Expected(const Bytes& d) {
  const int n = static_cast<int>(d.size());
  if (n > kRrMaxDatagram) return "2||";
  if (!RrAcceptDmxDataNew(d.data(), n)) {
    switch (JudgeDmx(d.data(), n)) {
      case DmxVerdict::Version:
        return "4||";
      case DmxVerdict::Type:
        return "6||";
      case DmxVerdict::Flag:
        return "7||";
      default:
        return n < kRrHeaderSize ? "3||" : "5||";
    }
  }
  bool whole = false;
  const std::string levels = HostLevels(d, &whole);
  return (whole ? "0|" : "1|") + levels;
}

Bytes Levels(std::initializer_list<std::pair<int, uint8_t>> set, uint8_t type = 1) {
  uint8_t levels[512] = {}, previous[512] = {};
  std::memset(previous, 1, sizeof previous);
  for (const auto& s : set) levels[s.first] = s.second, previous[s.first] = static_cast<uint8_t>(s.second + 1);
  // Only the named channels differ from `previous`.
  for (int c = 0; c < 512; ++c)
    if (previous[c] == 1) previous[c] = levels[c];
  Bytes record;
  AppendLevelRecord(record, levels, previous, type);
  return record;
}

Bytes Control(uint32_t type, int length, std::initializer_list<std::pair<int, uint32_t>> fields = {}) {
  PD_PACKET packet(type);
  Bytes b(reinterpret_cast<const uint8_t*>(&packet), reinterpret_cast<const uint8_t*>(&packet) + kPdPacketSize);
  for (const auto& f : fields)
    for (int i = 0; i < 4; ++i) b[static_cast<size_t>(f.first + i)] = static_cast<uint8_t>(f.second >> (8 * i));
  b.resize(static_cast<size_t>(length));
  return b;
}

// Named cases for the golden comparison: each rule and each kind of record.
std::vector<std::pair<bool, Bytes>> Golden() {
  std::vector<std::pair<bool, Bytes>> c;
  auto dmx = [&](const Bytes& d) { c.push_back({true, d}); };
  const Bytes two = Levels({{0, 255}, {2, 128}});
  dmx(BuildDmxDatagram({{0, two}}));
  dmx(BuildDmxDatagram({{1, Levels({{511, 7}})}, {5, Levels({{10, 1}}, 2)}}));
  Bytes records = Levels({{63, 9}});
  for (uint8_t b : {3, 2, 0xAB, 0xCD, 0}) records.push_back(b);  // a raw record, then the end mark
  dmx(BuildDmxDatagram({{2, records}}));
  Bytes bad = two;
  bad.push_back(9);  // no such data type: universe 3 and after are abandoned
  dmx(BuildDmxDatagram({{0, two}, {1, bad}, {3, two}}));
  Bytes trailing = two;
  trailing.push_back(0);
  trailing.push_back(0);
  dmx(BuildDmxDatagram({{4, trailing}}));
  Bytes tiny = BuildDmxDatagram({});
  tiny.resize(kRrHeaderSize + 8);
  tiny[8] = 8;  // PayloadLength 8: no room for the universe mask
  dmx(tiny);
  dmx(BuildDmxDatagram({{0, two}}, DMX_DATA_NEW, 6));
  dmx(BuildDmxDatagram({{0, two}}, 23));
  Bytes flagged = BuildDmxDatagram({{0, two}});
  flagged[12] |= 0x20;
  dmx(flagged);
  Bytes longer = BuildDmxDatagram({{0, two}});
  longer.push_back(0);
  dmx(longer);
  Bytes oversize = BuildDmxDatagram({{0, Bytes(1460, 0)}});
  dmx(oversize);
  dmx(Bytes(20, 0));
  c.push_back({false, Control(PD_HEARTBEAT, 556, {{20, 1}})});
  c.push_back({false, Control(PD_ACCEPT, 556)});
  c.push_back({false, Control(PD_SHUTDOWN, 30)});
  c.push_back({false, Control(PD_ACCEPT, 14)});
  c.push_back(
      {false, Control(PD_BLIND_AF_DMX, 556, {{24, 7}, {36, 2}, {44, 100 | 255u << 16}, {48, 101 | 128u << 16}})});
  c.push_back({false, Control(PD_BLIND_AF_SELECTION, 556, {{36, 2}, {40, 3}, {44, 7}, {48, 1}, {52, 8}, {56, 2}})});
  c.push_back({false, Control(PD_MIDI_AUTOFOCUS, 556, {{36, 2}, {44, 0xF7123412}})});
  c.push_back({false, Control(PD_ACCEPT, 556, {{12, 5601}})});
  return c;
}

// Valid frames broken at random: bytes changed, cut, lengthened, their
// PayloadLength made to fit again or not.
std::vector<std::pair<bool, Bytes>> Random(uint32_t seed, int count) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
  std::vector<std::pair<bool, Bytes>> c;
  while (static_cast<int>(c.size()) < count) {
    std::vector<int> universes;
    for (int u = 0; u < 64; ++u)
      if (pick(8) == 0) universes.push_back(u);
    if (universes.empty()) universes.push_back(pick(64));
    std::vector<uint8_t> levels(512 * universes.size()), previous(levels.size());
    for (size_t i = 0; i < levels.size(); ++i)
      levels[i] = static_cast<uint8_t>(random()), previous[i] = pick(4) ? levels[i] : 0;
    for (Bytes d : BuildFrame(universes, levels.data(), previous.data())) {
      for (int k = pick(4); k > 0; --k)
        d[static_cast<size_t>(kRrHeaderSize + pick(static_cast<int>(d.size()) - kRrHeaderSize))] =
            static_cast<uint8_t>(random());
      if (pick(10) == 0)
        d[static_cast<size_t>(12 + pick(4))] ^= static_cast<uint8_t>(1u << pick(8));  // the header's word
      if (pick(6) == 0) d.resize(static_cast<size_t>(pick(static_cast<int>(d.size()))) + 1);
      if (pick(8) == 0) d.insert(d.end(), static_cast<size_t>(pick(20)), static_cast<uint8_t>(random()));
      if (pick(2) == 0 && d.size() >= kRrHeaderSize) {
        const size_t payload = d.size() - kRrHeaderSize;
        d[8] = static_cast<uint8_t>(payload);
        d[9] = static_cast<uint8_t>(payload >> 8);
      }
      c.push_back({true, d});
    }
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 3 ? argv[1] : "";
  if (mode != "golden" && !(mode == "random" && argc > 5)) {
    std::fprintf(stderr, "usage: pv_dmx_cases golden|random FILE.pcapng FILE.expected [SEED COUNT]\n");
    return 2;
  }
  const auto cases =
      mode == "golden" ? Golden() : Random(static_cast<uint32_t>(std::stoul(argv[4])), std::atoi(argv[5]));
  CaptureWriter writer;
  std::string error;
  if (!writer.Open(argv[2], "pv_dmx_cases", &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  std::ofstream expected(argv[3]);
  int64_t time = 1700000000LL * 1000000000;
  for (const auto& c : cases) {
    CapturedDatagram d;
    d.timeNs = time += 25000000;
    d.source = MakeAddress(10, 0, 0, 9);
    d.destination = c.first ? MakeAddress(236, 3, 2, 33) : MakeAddress(236, 3, 3, 1);
    d.sourcePort = 40000;
    d.destinationPort = c.first ? 9138 : 6007;
    d.payload = c.second;
    d.length = static_cast<uint32_t>(c.second.size());
    writer.Write(d);
    if (c.first) expected << Expected(c.second) << "\n";
  }
  return writer.Close() && expected ? 0 : 1;
}
