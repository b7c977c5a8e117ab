#include "stream_health.h"

#include "../dmx_net/COMMON/rr_header.h"
#include "../tvnLib/echo.h"
#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The receiver is the only writer: a plain load and store, no locked
// instruction per count.
void Bump(std::atomic<uint32_t>& counter) { counter.store(counter.load(kRelaxed) + 1, kRelaxed); }

int ConsoleOf(uint32_t group) { return AddressOctet(group, 3) - 32; }

void NoteSender(DMX_STATS& stats, uint32_t group, const OsDatagram& info, uint32_t now) {
  const uint32_t count = stats.m_senderCount.load(kRelaxed);
  int live = -1;  // a known sender heard within kDmxLostMs
  for (uint32_t i = 0; i < count; ++i) {
    DMX_SENDER& s = stats.m_senders[i];
    if (s.m_address.load(kRelaxed) == info.source && s.m_port.load(kRelaxed) == info.sourcePort) {
      Bump(s.m_datagrams);
      s.m_lastMs.store(now, kRelaxed);
      return;
    }
    if (now - s.m_lastMs.load(kRelaxed) <= kDmxLostMs) live = static_cast<int>(i);
  }
  if (count == kDmxSenders) {
    Bump(stats.m_otherSenders);
    return;
  }
  DMX_SENDER& s = stats.m_senders[count];
  s.m_address.store(info.source, kRelaxed);
  s.m_port.store(info.sourcePort, kRelaxed);
  s.m_datagrams.store(1, kRelaxed);
  s.m_lastMs.store(now, kRelaxed);
  stats.m_senderCount.store(count + 1, std::memory_order_release);
  // A sender that replaces one gone quiet (a console restarted) is no
  // second sender.
  if (live < 0) return;
  const DMX_SENDER& other = stats.m_senders[live];
  char address[kAddressTextSize], otherAddress[kAddressTextSize];
  EchoPrint("DMX console %d: a second sender, %s:%u, beside %s:%u: two consoles with the same number?",
            ConsoleOf(group), AddressText(info.source, address), static_cast<unsigned>(info.sourcePort),
            AddressText(other.m_address.load(kRelaxed), otherAddress),
            static_cast<unsigned>(other.m_port.load(kRelaxed)));
}

void NoteUniverses(DMX_STATS& stats, const uint8_t* datagram, int length, uint32_t now) {
  if (length < kRrHeaderSize + 12 || !RrAcceptDmxDataNew(datagram, length)) return;
  const uint8_t* mask = datagram + kRrHeaderSize + 4;
  for (int g = 0; g < 8; ++g) {
    for (unsigned bits = mask[g]; bits != 0; bits &= bits - 1) {
      const int universe = 8 * g + __builtin_ctz(bits);
      Bump(stats.m_universe[universe]);
      stats.m_universeLastMs[universe].store(now, kRelaxed);
    }
  }
}

}  // namespace

void NoteStreamHealth(DMX_STATS& stats, uint32_t group, const OsDatagram& info, const uint8_t* datagram, int length) {
  const uint32_t now = osTickCountMs();
  const uint32_t last = stats.m_lastMs.load(kRelaxed);
  const DmxStream stream = stats.m_stream.load(kRelaxed);
  if (length > 0 && (info.destination == 0 || info.destination == group)) {
    NoteSender(stats, group, info, now);
    if (!info.truncated) NoteUniverses(stats, datagram, length, now);
    stats.m_lastMs.store(now, kRelaxed);
    if (stream == DmxStream::Live) return;
    stats.m_stream.store(DmxStream::Live, kRelaxed);
    if (stream == DmxStream::Stopped)
      EchoPrint("DMX console %d: the stream is back after %.1f s without DMX", ConsoleOf(group), (now - last) / 1000.0);
    return;
  }
  if (stream == DmxStream::Live && now - last > kDmxLostMs) {
    stats.m_stream.store(DmxStream::Stopped, kRelaxed);
    EchoPrint("DMX console %d: no DMX for %.1f s: the console's stream stopped", ConsoleOf(group),
              (now - last) / 1000.0);
  }
}
