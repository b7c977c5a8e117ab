// A hostile network: a million datagrams at the DMX port and a hundred
// thousand at the control port, of every kind of wrong, then valid DMX.
// Nothing crashes, memory stays flat, every datagram that reaches the
// driver is counted by what became of it, and the levels are right after.
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

void DmxHeader(std::vector<uint8_t>& d, uint32_t type, uint32_t version, size_t payloadLength) {
  d[8] = static_cast<uint8_t>(payloadLength);
  d[9] = static_cast<uint8_t>(payloadLength >> 8);
  PutLe32(d.data() + 12, type | version << 26);
}

// One hostile DMX datagram of the given kind.
Datagram DmxDatagram(std::mt19937& random, Kind kind) {
  Datagram d{kind, {}};
  switch (kind) {
    case Garbage:  // random bytes of a version other than 7
      d.bytes = RandomBytes(random, 1 + random() % kRrMaxDatagram);
      if (d.bytes.size() >= 16) d.bytes[15] = static_cast<uint8_t>((d.bytes[15] & 0x03) | 0x08 << 2);
      break;
    case BadBody:  // a header the receiver accepts over a random payload
      d.bytes = RandomBytes(random, 60 + random() % (kRrMaxDatagram - 59));
      DmxHeader(d.bytes, DMX_DATA_NEW, kRrVersion, d.bytes.size() - kRrHeaderSize);
      break;
    case BadHeader: {  // a valid payload under a header that fails the rule in one way
      std::vector<uint8_t> levels = RandomBytes(random, 512);
      UniverseBlock block{static_cast<int>(random() % 64), {}};
      AppendLevelRecord(block.records, levels.data(), nullptr);
      d.bytes = BuildDmxDatagram({block});
      const size_t payload = d.bytes.size() - kRrHeaderSize;
      switch (random() % 4) {
        case 0: DmxHeader(d.bytes, 23, kRrVersion, payload); break;
        case 1: DmxHeader(d.bytes, DMX_DATA_NEW | 0x20, kRrVersion, payload); break;
        case 2: DmxHeader(d.bytes, DMX_DATA_NEW, 6, payload); break;
        default: DmxHeader(d.bytes, DMX_DATA_NEW, kRrVersion, payload + 1 + random() % 100); break;
      }
      break;
    }
    case Oversize:  // longer than any datagram the receiver takes
      d.bytes = RandomBytes(random, kRrMaxDatagram + 1 + random() % 6000);
      DmxHeader(d.bytes, DMX_DATA_NEW, kRrVersion, d.bytes.size() - kRrHeaderSize);
      break;
    default: {  // valid levels for another console
      std::vector<uint8_t> levels(512, 0xEE);
      UniverseBlock block{static_cast<int>(random() % 64), {}};
      AppendLevelRecord(block.records, levels.data(), nullptr);
      d.bytes = BuildDmxDatagram({block});
      break;
    }
  }
  return d;
}

// One hostile control datagram of the given kind.
Datagram ControlDatagram(std::mt19937& random, Kind kind) {
  Datagram d{kind, {}};
  switch (kind) {
    case Garbage:   // random bytes without the signature
    case Oversize:  // the same, longer than a control packet
      d.bytes = RandomBytes(random, kind == Garbage ? 1 + random() % kPdPacketSize
                                                    : kPdPacketSize + 1 + random() % 3000);
      if (d.bytes.size() >= 16) PutLe32(d.bytes.data() + 12, kPdSignature + 1 + random() % 1000);
      break;
    case OtherGroup: {  // acceptances and shutdowns for another console
      const PD_PACKET packet(random() % 2 == 0 ? PD_ACCEPT : PD_SHUTDOWN);
      d.bytes.assign(reinterpret_cast<const uint8_t*>(&packet), reinterpret_cast<const uint8_t*>(&packet) + kPdPacketSize);
      break;
    }
    default: {  // a good header of a type the driver does not act on, random body
      static const uint32_t types[] = {0, PD_HEARTBEAT, PD_MIDI_AUTOFOCUS, PD_BLIND_AF_DMX, PD_BLIND_AF_SELECTION, 7, 99};
      PD_PACKET packet(types[random() % 7]);
      const std::vector<uint8_t> body = RandomBytes(random, 512);
      std::memcpy(packet.Items, body.data(), body.size());
      d.kind = BadBody;
      d.bytes.assign(reinterpret_cast<const uint8_t*>(&packet), reinterpret_cast<const uint8_t*>(&packet) + kPdPacketSize);
      break;
    }
  }
  return d;
}

Kind PickKind(std::mt19937& random, bool control) {
  const uint32_t r = random() % 100;
  if (control) return r < 30 ? Garbage : r < 60 ? BadBody : r < 75 ? Oversize : OtherGroup;
  return r < 25 ? Garbage : r < 50 ? BadBody : r < 65 ? BadHeader : r < 75 ? Oversize : OtherGroup;
}

class Flood : public Session {
 protected:
  void SetUp() override {
    Session::SetUp();
    LoopbackSettings(1);
    // The test is the console: it accepts until the driver connects.
    std::atomic<bool> connected{false};
    std::thread console([&] {
      const PD_PACKET accept(PD_ACCEPT);
      while (!connected) {
        sender.Send(kOurControl, ControlPort, reinterpret_cast<const uint8_t*>(&accept), kPdPacketSize);
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

  LoopbackSender sender;
  PORTS* session = nullptr;
  DMX_SNIFFER* sniffer = nullptr;
};

TEST_F(Flood, AMillionHostileDatagramsAreCountedByReasonAndLeaveTheLevelsRight) {
  ASSERT_TRUE(ValidLevelsArrive(1));
  std::mt19937 random(7);
  std::vector<Datagram> deck, controlDeck;
  for (int i = 0; i < 1024; ++i) deck.push_back(DmxDatagram(random, PickKind(random, false)));
  for (int i = 0; i < 1024; ++i) controlDeck.push_back(ControlDatagram(random, PickKind(random, true)));
  const int64_t rssBefore = ResidentBytes();

  // The DMX port, in batches that the receive buffer holds, each waited
  // for: a datagram that never arrived would show as a shortfall.
  const int dmxCount = Scaled(1000000, 10000);
  uint64_t sent[kKinds] = {};
  auto arrived = [&] { return sniffer->Stats().m_received.load() - sniffer->Stats().Dropped(DmxDrop::OtherGroup); };
  const uint32_t arrivedBefore = arrived();
  const uint32_t decodedBefore = sniffer->Stats().m_decoded.load();
  const auto dmxStart = Clock::now();
  for (int i = 0; i < dmxCount; ++i) {
    if (i % 1024 == 1023) deck[random() % deck.size()] = DmxDatagram(random, PickKind(random, false));
    const Datagram& d = deck[static_cast<size_t>(i) % deck.size()];
    ASSERT_TRUE(sender.Send(d.kind == OtherGroup ? kOtherDmx : kOurDmx, DmxPort, d.bytes.data(), d.bytes.size()));
    ++sent[d.kind];
    if (i % 256 == 255 || i == dmxCount - 1) {
      const uint64_t expected = arrivedBefore + static_cast<uint64_t>(i + 1) - sent[OtherGroup];
      ASSERT_TRUE(Reaches(arrived, expected)) << arrived() << " of " << expected << " arrived after " << i + 1 << " sent; "
                                              << sniffer->Stats().m_received.load() << " received";
    }
  }
  const int64_t dmxMs = MsSince(dmxStart);
  EXPECT_EQ(sniffer->Stats().Dropped(DmxDrop::NotDmxDataNew), sent[Garbage] + sent[BadHeader]);
  EXPECT_EQ(sniffer->Stats().Dropped(DmxDrop::Oversize), sent[Oversize]);
  // A random payload decodes whole now and then; most are broken.
  EXPECT_EQ(sniffer->Stats().Dropped(DmxDrop::Malformed) + sniffer->Stats().m_decoded.load() - decodedBefore, sent[BadBody]);
  EXPECT_GT(sniffer->Stats().Dropped(DmxDrop::Malformed), sent[BadBody] / 2);
  // Where the platform delivers every group joined on the port, another
  // console's datagrams reach the receiver and are passed over.
  const uint64_t others = sniffer->Stats().Dropped(DmxDrop::OtherGroup);
  EXPECT_TRUE(others == 0 || others == sent[OtherGroup]) << others;

  // The control port, the same way.
  const int controlCount = Scaled(100000, 2000);
  uint64_t controlSent[kKinds] = {};
  auto passedOver = [&] {
    return session->ControlDrops(ControlDrop::Signature) + session->ControlDrops(ControlDrop::OtherType);
  };
  const uint32_t signatureBefore = session->ControlDrops(ControlDrop::Signature);
  const uint32_t otherTypeBefore = session->ControlDrops(ControlDrop::OtherType);
  const uint64_t passedBefore = passedOver();
  deck.swap(controlDeck);
  const auto controlStart = Clock::now();
  for (int i = 0; i < controlCount; ++i) {
    if (i % 1024 == 1023) deck[random() % deck.size()] = ControlDatagram(random, PickKind(random, true));
    const Datagram& d = deck[static_cast<size_t>(i) % deck.size()];
    ASSERT_TRUE(sender.Send(d.kind == OtherGroup ? kOtherControl : kOurControl, ControlPort, d.bytes.data(),
                            d.bytes.size()));
    ++controlSent[d.kind];
    if (i % 64 == 63 || i == controlCount - 1) {
      const uint64_t expected = passedBefore + static_cast<uint64_t>(i + 1) - controlSent[OtherGroup];
      ASSERT_TRUE(Reaches(passedOver, expected)) << passedOver() << " of " << expected << " arrived";
    }
  }
  const int64_t controlMs = MsSince(controlStart);
  // The driver's own heartbeats count among the other types: the signature
  // drops are what tells that every datagram arrived.
  const uint64_t unsignedSent = controlSent[Garbage] + controlSent[Oversize];
  EXPECT_TRUE(Reaches([&] { return session->ControlDrops(ControlDrop::Signature) - signatureBefore; }, unsignedSent));
  EXPECT_EQ(session->ControlDrops(ControlDrop::Signature) - signatureBefore, unsignedSent);
  const uint64_t otherTypes = session->ControlDrops(ControlDrop::OtherType) - otherTypeBefore;
  EXPECT_GE(otherTypes, controlSent[BadBody]);
  EXPECT_LE(otherTypes, controlSent[BadBody] + static_cast<uint64_t>(controlMs / 900 + 2));  // and the heartbeats
  // Other sessions on the machine (a fuzzer, say) add their heartbeats.
  const uint64_t otherControl = session->ControlDrops(ControlDrop::OtherGroup);
  EXPECT_TRUE(otherControl == 0 || otherControl >= controlSent[OtherGroup]) << otherControl;

  // The same receiver throughout, and valid levels are right at once.
  EXPECT_EQ(session->Sniffer.load(), sniffer);
  EXPECT_TRUE(ValidLevelsArrive(2));
  const int64_t rssAfter = ResidentBytes();
  if (MemoryIsTheDrivers()) {
    EXPECT_LT(rssAfter - rssBefore, kFlatRssBytes);
  }
  std::printf("flood: %d DMX datagrams in %lld ms (not DMX_DATA_NEW %u, malformed %u, decoded %u, oversize %u, "
              "other group %llu of %llu); %d control datagrams in %lld ms (signature %u, other type %llu, other "
              "group %llu of %llu); RSS %lld -> %lld KiB\n",
              dmxCount, static_cast<long long>(dmxMs), sniffer->Stats().Dropped(DmxDrop::NotDmxDataNew),
              sniffer->Stats().Dropped(DmxDrop::Malformed), sniffer->Stats().m_decoded.load(), sniffer->Stats().Dropped(DmxDrop::Oversize),
              static_cast<unsigned long long>(others), static_cast<unsigned long long>(sent[OtherGroup]),
              controlCount, static_cast<long long>(controlMs), session->ControlDrops(ControlDrop::Signature),
              static_cast<unsigned long long>(otherTypes), static_cast<unsigned long long>(otherControl),
              static_cast<unsigned long long>(controlSent[OtherGroup]), static_cast<long long>(rssBefore / 1024),
              static_cast<long long>(rssAfter / 1024));

  // The control dialogue still works.
  const PD_PACKET shutdown(PD_SHUTDOWN);
  sender.Send(kOurControl, ControlPort, reinterpret_cast<const uint8_t*>(&shutdown), kPdPacketSize);
  EXPECT_TRUE(Eventually([&] { return !session->HasSniffer(); }));
  const PD_PACKET accept(PD_ACCEPT);
  sender.Send(kOurControl, ControlPort, reinterpret_cast<const uint8_t*>(&accept), kPdPacketSize);
  EXPECT_TRUE(Eventually([&] { return session->HasSniffer(); }));
  EXPECT_TRUE(ValidLevelsArrive(3));
}

}  // namespace
