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
using Cases = std::vector<std::pair<bool, Bytes>>;  // DMX or control, the datagram

// The driver's verdict code, and the levels the payload leaves for the host
// in each universe: decoded into a store of zeros and one of 0xFF, a channel
// was written where both agree.
std::string Expected(const Bytes& d) {
  const int n = static_cast<int>(d.size());
  if (n > kRrMaxDatagram) return "2||";
  if (!RrAcceptDmxDataNew(d.data(), n)) {  // version, type and flag have their own codes; the rest is a length
    const int codes[kDmxVerdicts] = {5, 4, 5, 6, 7, 5, 5};  // by DmxVerdict
    return std::to_string(n < kRrHeaderSize ? 3 : codes[static_cast<int>(JudgeDmx(d.data(), n))]) + "||";
  }
  DMX_DATA_CODER zeros, ones;
  for (int u = 0; u < 64; ++u) {
    zeros.AddUniverse(u), ones.AddUniverse(u);
    RESOURCE_LOCK lock(&ones, nullptr);
    std::memset(ones.LevelsOf(u), 0xFF, 512);
  }
  const bool whole = zeros.Decode(d.data() + kRrHeaderSize, n - kRrHeaderSize);
  ones.Decode(d.data() + kRrHeaderSize, n - kRrHeaderSize);
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
  return (whole ? "0|" : "1|") + universes + "|" + lists;
}

// A level record (data type 1 or 2) that names just the given channels.
Bytes Levels(std::initializer_list<std::pair<int, uint8_t>> set, uint8_t type = 1) {
  uint8_t levels[512] = {}, previous[512] = {};
  for (const auto& s : set) levels[s.first] = s.second, previous[s.first] = static_cast<uint8_t>(s.second + 1);
  Bytes record;
  AppendLevelRecord(record, levels, previous, type);
  return record;
}
Bytes Plus(Bytes b, std::initializer_list<uint8_t> more) { return b.insert(b.end(), more), b; }

Bytes Control(uint32_t type, int length, std::initializer_list<std::pair<int, uint32_t>> fields = {}) {
  PD_PACKET packet(type);
  Bytes b(reinterpret_cast<const uint8_t*>(&packet), reinterpret_cast<const uint8_t*>(&packet) + kPdPacketSize);
  for (const auto& f : fields)
    for (int i = 0; i < 4; ++i) b[static_cast<size_t>(f.first + i)] = static_cast<uint8_t>(f.second >> (8 * i));
  b.resize(static_cast<size_t>(length));
  return b;
}

// Named cases for the golden comparison: each rule and each kind of record.
Cases Golden() {
  const Bytes two = Levels({{0, 255}, {2, 128}}), plain = BuildDmxDatagram({{0, two}});
  Bytes tiny = BuildDmxDatagram({}), flagged = plain;
  tiny.resize(kRrHeaderSize + 8);
  tiny[8] = 8;  // PayloadLength 8: no room for the universe mask
  flagged[12] |= 0x20;
  Cases c;
  for (const Bytes& d :
       {plain, BuildDmxDatagram({{1, Levels({{511, 7}})}, {5, Levels({{10, 1}}, 2)}}),
        BuildDmxDatagram({{2, Plus(Levels({{63, 9}}), {3, 2, 0xAB, 0xCD, 0})}}),  // a raw record, the end
        BuildDmxDatagram({{0, two}, {1, Plus(two, {9})}, {3, two}}),              // type 9: the rest abandoned
        BuildDmxDatagram({{4, Plus(two, {0, 0})}}), tiny, BuildDmxDatagram({{0, two}}, DMX_DATA_NEW, 6),
        BuildDmxDatagram({{0, two}}, 23), flagged, Plus(plain, {0}), BuildDmxDatagram({{0, Bytes(1460, 0)}}),
        Bytes(20, 0)})
    c.push_back({true, d});
  for (const Bytes& d :
       {Control(PD_HEARTBEAT, 556, {{20, 1}}), Control(PD_ACCEPT, 556), Control(PD_SHUTDOWN, 30),
        Control(PD_ACCEPT, 14),
        Control(PD_BLIND_AF_DMX, 556, {{24, 7}, {36, 2}, {44, 100 | 255u << 16}, {48, 101 | 128u << 16}}),
        Control(PD_BLIND_AF_SELECTION, 556, {{36, 2}, {40, 3}, {44, 7}, {48, 1}, {52, 8}, {56, 2}}),
        Control(PD_MIDI_AUTOFOCUS, 556, {{36, 2}, {44, 0xF7123412}}), Control(PD_ACCEPT, 556, {{12, 5601}})})
    c.push_back({false, d});
  return c;
}

// Valid frames broken at random: bytes changed, cut, lengthened, their
// PayloadLength made to fit again or not.
Cases Random(uint32_t seed, int count) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
  Cases c;
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
      const size_t payload = d.size() - kRrHeaderSize;
      if (pick(2) == 0 && d.size() >= kRrHeaderSize)
        d[8] = static_cast<uint8_t>(payload), d[9] = static_cast<uint8_t>(payload >> 8);
      c.push_back({true, d});
    }
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 3 ? argv[1] : "";
  if (mode != "golden" && !(mode == "random" && argc > 5))
    return std::fprintf(stderr, "usage: pv_dmx_cases golden|random FILE.pcapng FILE.expected [SEED COUNT]\n"), 2;
  const Cases cases =
      mode == "golden" ? Golden() : Random(static_cast<uint32_t>(std::stoul(argv[4])), std::atoi(argv[5]));
  CaptureWriter writer;
  std::string error;
  if (!writer.Open(argv[2], "pv_dmx_cases", &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  std::ofstream expected(argv[3]);
  int64_t time = 1700000000LL * 1000000000;
  for (const auto& [dmx, bytes] : cases) {  // from 10.0.0.9:40000 to a console's DMX or control group and port
    writer.Write({time += 25000000, MakeAddress(10, 0, 0, 9),
                  dmx ? MakeAddress(236, 3, 2, 33) : MakeAddress(236, 3, 3, 1), 40000,
                  static_cast<uint16_t>(dmx ? 9138 : 6007), bytes, static_cast<uint32_t>(bytes.size())});
    if (dmx) expected << Expected(bytes) << "\n";
  }
  return writer.Close() && expected ? 0 : 1;
}
