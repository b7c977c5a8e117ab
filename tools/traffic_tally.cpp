#include "traffic_tally.h"

#include <algorithm>
#include <cstring>

#include "../dmx_net/COMMON/rr_header.h"
#include "../protocol/pd_packet.h"

const char* const DmxVerdictNames[kDmxVerdicts] = {"accepted",       "wrong version", "wrong length", "other type",
                                                   "no-decode flag", "oversize",      "malformed"};

namespace {

// Beyond this many senders the rest count as the last one.
constexpr size_t kMaxSenders = 16;

void Count(std::vector<Sender>& senders, uint32_t address, uint16_t port, uint32_t nowMs, uint32_t receiving = 0) {
  for (Sender& s : senders) {
    if (s.address != address || s.port != port) continue;
    ++s.datagrams;
    s.lastMs = nowMs;
    s.receiving = receiving;
    return;
  }
  if (senders.size() == kMaxSenders) {
    ++senders.back().datagrams;
    return;
  }
  senders.push_back(Sender{address, port, 1, nowMs, nowMs, receiving});
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void GroupTraffic::AddControl(const uint8_t* datagram, int length, uint32_t source, uint16_t port, uint32_t nowMs) {
  uint8_t packet[kPdPacketSize] = {};
  std::memcpy(packet, datagram, static_cast<size_t>(std::min(std::max(length, 0), kPdPacketSize)));
  const uint32_t type = Le32(packet + 16);
  if (Le32(packet + 12) != kPdSignature) {
    ++control[7];
    return;
  }
  ++control[type <= 6 ? type : 0];
  if (type == PD_HEARTBEAT) Count(drivers, source, port, nowMs, Le32(packet + 20));
  if (type != PD_ACCEPT && type != PD_SHUTDOWN) return;
  (type == PD_ACCEPT ? lastAcceptMs : lastShutdownMs) = nowMs;
  Count(controlSenders, source, port, nowMs);
}

void GroupTraffic::AddDmx(DmxVerdict verdict, const uint8_t* datagram, int length, uint32_t source, uint16_t port,
                          uint32_t nowMs) {
  ++dmx[static_cast<int>(verdict)];
  lastDmxMs = nowMs;
  Count(dmxSenders, source, port, nowMs);
  if (verdict != DmxVerdict::Accepted || length < kRrHeaderSize + 12) return;
  for (int g = 0; g < 8; ++g) {
    for (int b = 0; b < 8; ++b) {
      if ((datagram[kRrHeaderSize + 4 + g] >> b & 1) == 0) continue;
      UniverseHealth& u = universe[8 * g + b];
      if (u.datagrams >= 2) {
        const uint32_t silence = nowMs - u.lastMs;
        const uint32_t usual = (u.lastMs - u.firstMs) / (u.datagrams - 1);
        if (silence > 100 && silence > 4 * usual) {
          ++u.gaps;
          u.longestGapMs = std::max(u.longestGapMs, silence);
        }
      }
      if (u.datagrams == 0) u.firstMs = nowMs;
      ++u.datagrams;
      u.lastMs = nowMs;
    }
  }
}

uint32_t GroupTraffic::DmxTotal() const {
  uint32_t sum = 0;
  for (uint32_t n : dmx) sum += n;
  return sum;
}

int GroupTraffic::LiveDmxSenders(uint32_t nowMs) const {
  int live = 0;
  for (const Sender& s : dmxSenders) live += nowMs - s.lastMs <= kUniverseLostMs ? 1 : 0;
  return live;
}

DmxVerdict JudgeDmx(const uint8_t* d, int length) {
  if (length > kRrMaxDatagram) return DmxVerdict::Oversize;
  if (length < kRrHeaderSize) return DmxVerdict::Length;
  RrHeader header;
  std::memcpy(static_cast<void*>(&header), d, sizeof header);
  if (header.Version() != kRrVersion) return DmxVerdict::Version;
  if (length != header.PayloadLength + kRrHeaderSize) return DmxVerdict::Length;
  if (header.PacketType() != DMX_DATA_NEW) return DmxVerdict::Type;
  if (header.NoDecodeFlag()) return DmxVerdict::Flag;
  return DmxVerdict::Accepted;
}
