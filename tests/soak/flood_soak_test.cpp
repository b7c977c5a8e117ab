// A hostile network: a million datagrams at the DMX port and a hundred
// thousand at the control port, of every kind of wrong, then valid DMX.
// Nothing crashes, memory stays flat, every datagram that reaches the
// driver is counted by what became of it, and the levels are right after.
#include <iostream>

#include "dmx_net/COMMON/rr_packet.h"
#include "soak/soak_support.h"
#include "tools/dmx_encode.h"

namespace {

const uint32_t kOurDmx = MakeAddress(236, 3, 2, 33);
const uint32_t kOtherDmx = MakeAddress(236, 3, 2, 34);
const uint32_t kOurControl = MakeAddress(236, 3, 3, 1);
const uint32_t kOtherControl = MakeAddress(236, 3, 3, 2);

// What a flood datagram is, and what the driver must make of it.
enum Kind { Garbage, BadBody, BadHeader, Oversize, OtherGroup, kKinds };

struct Datagram {
  Kind kind;
  std::vector<uint8_t> bytes;
};

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// `d` under a DMX header of `type` and `version` whose payload length says
// `extra` bytes more than there are.
std::vector<uint8_t> WithHeader(std::vector<uint8_t> d, uint32_t type, uint32_t version = kRrVersion,
                                size_t extra = 0) {
  const size_t payloadLength = d.size() - kRrHeaderSize + extra;
  d[8] = static_cast<uint8_t>(payloadLength);
  d[9] = static_cast<uint8_t>(payloadLength >> 8);
  PutLe32(d.data() + 12, type | version << 26);
  return d;
}

// Levels for one universe, chosen at random.
std::vector<uint8_t> LevelsDatagram(std::mt19937& random, const std::vector<uint8_t>& levels) {
  UniverseBlock block{static_cast<int>(random() % 64), {}};
  AppendLevelRecord(block.records, levels.data(), nullptr);
  return BuildDmxDatagram({block});
}

// One hostile DMX datagram, of a kind chosen at random.
Datagram DmxDatagram(std::mt19937& random) {
  const uint32_t r = random() % 100;
  const Kind kind = r < 25 ? Garbage : r < 50 ? BadBody : r < 65 ? BadHeader : r < 75 ? Oversize : OtherGroup;
  switch (kind) {
    case Garbage: {  // random bytes of a version other than 7
      std::vector<uint8_t> d = RandomBytes(random, 1 + random() % kRrMaxDatagram);
      if (d.size() >= 16) d[15] = static_cast<uint8_t>((d[15] & 0x03) | 0x08 << 2);
      return {kind, d};
    }
    case BadBody:  // a header the receiver accepts over a random payload
      return {kind, WithHeader(RandomBytes(random, 60 + random() % (kRrMaxDatagram - 59)), DMX_DATA_NEW)};
    case BadHeader: {  // a valid payload under a header that fails the rule in one way
      const std::vector<uint8_t> d = LevelsDatagram(random, RandomBytes(random, 512));
      switch (random() % 4) {
        case 0: return {kind, WithHeader(d, 23)};
        case 1: return {kind, WithHeader(d, DMX_DATA_NEW | 0x20)};
        case 2: return {kind, WithHeader(d, DMX_DATA_NEW, 6)};
        default: return {kind, WithHeader(d, DMX_DATA_NEW, kRrVersion, 1 + random() % 100)};
      }
    }
    case Oversize:  // longer than any datagram the receiver takes
      return {kind, WithHeader(RandomBytes(random, kRrMaxDatagram + 1 + random() % 6000), DMX_DATA_NEW)};
    default:  // valid levels for another console
      return {kind, LevelsDatagram(random, std::vector<uint8_t>(512, 0xEE))};
  }
}

std::vector<uint8_t> Bytes(const PD_PACKET& packet) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&packet);
  return std::vector<uint8_t>(p, p + kPdPacketSize);
}

// One hostile control datagram, of a kind chosen at random.
Datagram ControlDatagram(std::mt19937& random) {
  const uint32_t r = random() % 100;
  const Kind kind = r < 30 ? Garbage : r < 60 ? BadBody : r < 75 ? Oversize : OtherGroup;
  switch (kind) {
    case Garbage:     // random bytes without the signature
    case Oversize: {  // the same, longer than a control packet
      std::vector<uint8_t> d =
          RandomBytes(random, kind == Garbage ? 1 + random() % kPdPacketSize : kPdPacketSize + 1 + random() % 3000);
      if (d.size() >= 16) PutLe32(d.data() + 12, kPdSignature + 1 + random() % 1000);
      return {kind, d};
    }
    case OtherGroup:  // acceptances and shutdowns for another console
      return {kind, Bytes(PD_PACKET(random() % 2 == 0 ? PD_ACCEPT : PD_SHUTDOWN))};
    default: {  // a good header of a type the driver does not act on, random body
      static const uint32_t types[] = {0, PD_HEARTBEAT, PD_MIDI_AUTOFOCUS, PD_BLIND_AF_DMX, PD_BLIND_AF_SELECTION, 7, 99};
      PD_PACKET packet(types[random() % 7]);
      const std::vector<uint8_t> body = RandomBytes(random, 512);
      std::memcpy(packet.Items, body.data(), body.size());
      return {BadBody, Bytes(packet)};
    }
  }
}

class Flood : public Session {
 protected:
  void SetUp() override {
    Session::SetUp();
    LoopbackSettings(1);
    // The test is the console: it accepts until the driver connects.
    std::atomic<bool> connected{false};
    std::thread console([&] {
      while (!connected) {
        Control(PD_ACCEPT);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    PDI pdi = Record(1);
    const uint16_t handle = Connect(&pdi);
    connected = true;
    console.join();
    ASSERT_EQ(handle, 1);
    session = FindPortMap(1);
    ASSERT_TRUE(Eventually([&] { return session->HasSniffer() && GetNumChannels(1, 63) == 512; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the acceptances still on their way
    sniffer = session->Sniffer.load();
    // Other consoles' groups are joined on this machine too.
    sender.Listen(kOtherDmx, DmxPort);
    sender.Listen(kOtherControl, ControlPort);
  }

  // Levels for every universe, sent until the host reads them all.
  bool ValidLevelsArrive(uint8_t seed) {
    std::vector<uint8_t> levels(512 * 64);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint8_t>(seed + i * 13);
    std::vector<int> universes;
    for (int u = 0; u < 64; ++u) universes.push_back(u);
    return Eventually([&] {
      for (const auto& datagram : BuildFrame(universes, levels.data(), nullptr))
        sender.Send(kOurDmx, DmxPort, datagram.data(), datagram.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (int u = 0; u < 64; ++u)
        if (ReadPort(1, u) != std::vector<uint8_t>(levels.begin() + 512 * u, levels.begin() + 512 * (u + 1)))
          return false;
      return true;
    });
  }

  void Control(uint32_t type) {
    const std::vector<uint8_t> packet = Bytes(PD_PACKET(type));
    sender.Send(kOurControl, ControlPort, packet.data(), packet.size());
  }

  LoopbackSender sender;
  PORTS* session = nullptr;
  DMX_SNIFFER* sniffer = nullptr;
};

// Sends `count` datagrams made by `make` (a deck of 1024, one card renewed
// every 1024), in batches that the receive buffer holds, each waited for
// through `arrived`: a datagram that never arrived would show as a
// shortfall. Returns the datagrams sent of each kind.
template <typename Arrived>
std::vector<uint64_t> Pour(LoopbackSender& sender, std::mt19937& random, int count, int batch,
                           Datagram (*make)(std::mt19937&), uint32_t ours, uint32_t others, uint16_t port,
                           Arrived arrived) {
  std::vector<Datagram> deck;
  for (int i = 0; i < 1024; ++i) deck.push_back(make(random));
  std::vector<uint64_t> sent(kKinds, 0);
  const uint64_t before = arrived();
  for (int i = 0; i < count; ++i) {
    if (i % 1024 == 1023) deck[random() % deck.size()] = make(random);
    const Datagram& d = deck[static_cast<size_t>(i) % deck.size()];
    EXPECT_TRUE(sender.Send(d.kind == OtherGroup ? others : ours, port, d.bytes.data(), d.bytes.size()));
    ++sent[d.kind];
    if (i % batch == batch - 1 || i == count - 1) {
      const uint64_t expected = before + static_cast<uint64_t>(i + 1) - sent[OtherGroup];
      if (!Reaches(arrived, expected)) {
        ADD_FAILURE() << arrived() << " of " << expected << " arrived after " << i + 1 << " sent";
        break;
      }
    }
  }
  return sent;
}

TEST_F(Flood, AMillionHostileDatagramsAreCountedByReasonAndLeaveTheLevelsRight) {
  ASSERT_TRUE(ValidLevelsArrive(1));
  std::mt19937 random(7);
  const int64_t rssBefore = ResidentBytes();
  const DMX_STATS& dmx = session->DmxStats;
  const uint32_t decodedBefore = dmx.m_decoded.load();
  auto arrived = [&] { return dmx.m_received.load() - dmx.Dropped(DmxDrop::OtherGroup); };
  const auto dmxStart = Clock::now();
  const std::vector<uint64_t> sent =
      Pour(sender, random, Scaled(1000000, 10000), 256, DmxDatagram, kOurDmx, kOtherDmx, DmxPort, arrived);
  const int64_t dmxMs = MsSince(dmxStart);
  EXPECT_EQ(dmx.Dropped(DmxDrop::NotDmxDataNew), sent[Garbage] + sent[BadHeader]);
  EXPECT_EQ(dmx.Dropped(DmxDrop::Oversize), sent[Oversize]);
  // A random payload decodes whole now and then; most are broken.
  EXPECT_EQ(dmx.Dropped(DmxDrop::Malformed) + dmx.m_decoded.load() - decodedBefore, sent[BadBody]);
  EXPECT_GT(dmx.Dropped(DmxDrop::Malformed), sent[BadBody] / 2);
  // Where the platform delivers every group joined on the port, another
  // console's datagrams reach the receiver and are passed over.
  const uint64_t others = dmx.Dropped(DmxDrop::OtherGroup);
  EXPECT_TRUE(others == 0 || others == sent[OtherGroup]) << others;

  // The control port, the same way. The driver's own heartbeats count
  // among the other types: the signature drops tell that all arrived.
  const auto drops = [&](ControlDrop reason) { return session->ControlDrops(reason); };
  const uint32_t signatureBefore = drops(ControlDrop::Signature), otherTypeBefore = drops(ControlDrop::OtherType);
  const auto controlStart = Clock::now();
  const std::vector<uint64_t> controlSent =
      Pour(sender, random, Scaled(100000, 2000), 64, ControlDatagram, kOurControl, kOtherControl, ControlPort,
           [&] { return drops(ControlDrop::Signature) + drops(ControlDrop::OtherType); });
  const int64_t controlMs = MsSince(controlStart);
  const uint64_t unsignedSent = controlSent[Garbage] + controlSent[Oversize];
  EXPECT_TRUE(Reaches([&] { return drops(ControlDrop::Signature) - signatureBefore; }, unsignedSent));
  EXPECT_EQ(drops(ControlDrop::Signature) - signatureBefore, unsignedSent);
  const uint64_t otherTypes = drops(ControlDrop::OtherType) - otherTypeBefore;
  EXPECT_GE(otherTypes, controlSent[BadBody]);
  EXPECT_LE(otherTypes, controlSent[BadBody] + static_cast<uint64_t>(controlMs / 900 + 2));  // and the heartbeats
  // Other sessions on the machine (a fuzzer, say) add their heartbeats.
  const uint64_t otherControl = drops(ControlDrop::OtherGroup);
  EXPECT_TRUE(otherControl == 0 || otherControl >= controlSent[OtherGroup]) << otherControl;

  // The same receiver throughout, and valid levels are right at once.
  EXPECT_EQ(session->Sniffer.load(), sniffer);
  EXPECT_TRUE(ValidLevelsArrive(2));
  const int64_t rssAfter = ResidentBytes();
  EXPECT_TRUE(!MemoryIsTheDrivers() || rssAfter - rssBefore < kFlatRssBytes) << rssAfter - rssBefore;
  std::cout << "flood: DMX in " << dmxMs << " ms (not DMX_DATA_NEW " << dmx.Dropped(DmxDrop::NotDmxDataNew)
            << ", malformed " << dmx.Dropped(DmxDrop::Malformed) << ", oversize " << dmx.Dropped(DmxDrop::Oversize)
            << ", other group " << others << "); control in " << controlMs << " ms (signature " << unsignedSent
            << ", other type " << otherTypes << "); RSS " << rssBefore / 1024 << " -> " << rssAfter / 1024 << " KiB\n";

  // The control dialogue still works.
  for (uint32_t type : {PD_SHUTDOWN, PD_ACCEPT}) {
    Control(type);
    EXPECT_TRUE(Eventually([&] { return session->HasSniffer() == (type == PD_ACCEPT); }));
  }
  EXPECT_TRUE(ValidLevelsArrive(3));
}

}  // namespace
