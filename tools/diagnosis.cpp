#include "diagnosis.h"

#include <cstdarg>
#include <cstdio>

#include "../protocol/dmx_sniffer.h"
#include "../tvnLib/ipaddress.h"

std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string AddressText(uint32_t address) {
  char text[kAddressTextSize];
  return AddressText(address, text);
}

std::string SenderText(const Sender& s) {
  return AddressText(s.address) + Format(":%u", static_cast<unsigned>(s.port));
}

SnifferCounts SnifferCounts::Since(const SnifferCounts& e) const {
  SnifferCounts d = *this;
  if (!e.present) return d;
  auto since = [](uint32_t later, uint32_t earlier) { return later >= earlier ? later - earlier : later; };
  d.received = since(received, e.received);
  d.decoded = since(decoded, e.decoded);
  for (int i = 0; i < 5; ++i) d.dropped[i] = since(dropped[i], e.dropped[i]);
  return d;
}

SnifferCounts CountsOf(const DMX_STATS& stats) {
  SnifferCounts c;
  c.present = true;
  c.received = stats.m_received.load();
  c.decoded = stats.m_decoded.load();
  for (int i = 0; i < kDmxDropReasons; ++i) c.dropped[i] = stats.m_dropped[i].load();
  const uint32_t senders = stats.m_senderCount.load(std::memory_order_acquire);
  for (uint32_t i = 0; i < senders && i < kDmxSenders; ++i) {
    const DMX_SENDER& s = stats.m_senders[i];
    Sender sender;
    sender.address = s.m_address.load();
    sender.port = static_cast<uint16_t>(s.m_port.load());
    sender.datagrams = s.m_datagrams.load();
    c.senders.push_back(sender);
  }
  return c;
}

bool ConsoleReport::ShutDown() const {
  // Asked: the driver's receiver is gone. Listened: the console's last word
  // was a shutdown.
  return active ? acceptMs >= 0 && !receiverAtEnd && Own().control[4] > 0 : Own().ShutDown();
}

int ConsoleReport::Senders() const {
  int n = 0;
  for (const Sender& s : Own().dmxSenders) n += s.datagrams > 0 ? 1 : 0;
  return n;
}

bool ConsoleReport::Streams() const {
  if (active) return acceptMs >= 0 && driver.decoded > 0 && receiverAtEnd;
  const GroupTraffic& t = Own();
  if (t.dmx[static_cast<int>(DmxVerdict::Accepted)] == 0 || t.ShutDown()) return false;
  for (const UniverseHealth& u : t.universe)
    if (u.datagrams > 0 && !u.Lost(nowMs)) return true;
  return false;
}

bool Diagnosis::AllStream() const {
  if (consoles.empty()) return false;
  for (const ConsoleReport& c : consoles)
    if (!c.Streams() || c.Senders() > 1) return false;
  return true;
}
