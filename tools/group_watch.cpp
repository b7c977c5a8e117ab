#include "group_watch.h"

#include <memory>

#include "../dmx_net/COMMON/dmx_network_decode.h"
#include "../dmx_net/COMMON/rr_header.h"
#include "../protocol/dmx_sniffer.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/ipaddress.h"

namespace {

// Memberships per socket: Linux allows 20.
constexpr int kMembershipsPerSocket = 16;

// The console whose group `destination` is (control or DMX), or 0.
int ConsoleOf(uint32_t destination, bool dmx) {
  if (AddressOctet(destination, 0) != 236 || AddressOctet(destination, 1) != 3) return 0;
  const int last = AddressOctet(destination, 3);
  if (!dmx && AddressOctet(destination, 2) == 3 && last >= 1 && last <= 31) return last;
  if (dmx && AddressOctet(destination, 2) == 2 && last >= 33 && last <= 63) return last - 32;
  return 0;
}

// A socket on `port` that joins consoles first..last's groups on every
// interface.
OsSocket Listener(uint16_t port, const std::vector<uint32_t>& interfaces, int first, int last, std::string* error) {
  const OsSocket s = osUdpSocket();
  if (s == kOsInvalidSocket) {
    *error = "no socket";
    return s;
  }
  osSetSockOpt(s, OsSockOpt::ReuseAddr, 1);
  osSetSockOpt(s, OsSockOpt::ReceiveBuffer, 1 << 20);
  osReportDestination(s);
  const IPADDRESS any(port, 0);
  if (osBind(s, &any) != 0) {
    *error = "cannot bind port " + std::to_string(port);
    osSocketClose(s);
    return kOsInvalidSocket;
  }
  for (int console = first; console <= last; ++console) {
    const uint32_t group = port == DmxPort ? DmxGroup(console) : ConsoleGroup(static_cast<uint32_t>(console));
    for (uint32_t interfaceAddr : interfaces) {
      if (osMembership(s, true, group, interfaceAddr) == 0) continue;
      char text[kAddressTextSize];
      *error = std::string("cannot join the consoles' groups on ") + AddressText(interfaceAddr, text) + " (error " +
               std::to_string(osNetLastError()) + ")";
      osSocketClose(s);
      return kOsInvalidSocket;
    }
  }
  return s;
}

}  // namespace

GroupWatch::GroupWatch(std::vector<uint32_t> interfaces) : m_interfaces(std::move(interfaces)) {
  if (m_interfaces.size() > kMembershipsPerSocket) m_interfaces.resize(kMembershipsPerSocket);
  m_start = std::chrono::steady_clock::now();
}

GroupWatch::~GroupWatch() { Stop(); }

bool GroupWatch::Start(std::string* error) {
  // Each socket takes a range of consoles on every interface. Where every
  // socket on a port hears every group joined on it (not Linux), each
  // counts only its own range.
  const int perSocket = std::max<int>(1, kMembershipsPerSocket / static_cast<int>(m_interfaces.size()));
  struct Range {
    bool dmx;
    int first, last;
  };
  std::vector<Range> ranges;
  for (const bool dmx : {false, true})
    for (int first = 1; first <= 31; first += perSocket)
      ranges.push_back({dmx, first, std::min(31, first + perSocket - 1)});
  for (const Range& r : ranges) {
    const OsSocket s = Listener(r.dmx ? DmxPort : ControlPort, m_interfaces, r.first, r.last, error);
    if (s == kOsInvalidSocket) {
      Stop();
      return false;
    }
    m_sockets.push_back(s);
  }
  Reset();
  m_running = true;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const Range r = ranges[i];
    const OsSocket s = m_sockets[i];
    m_threads.emplace_back([this, s, r] { Loop(s, r.dmx, r.first, r.last); });
  }
  return true;
}

void GroupWatch::Stop() {
  m_running = false;
  for (OsSocket s : m_sockets) osSocketWake(s);
  for (std::thread& t : m_threads) t.join();
  m_threads.clear();
  for (OsSocket s : m_sockets) osSocketClose(s);
  m_sockets.clear();
}

void GroupWatch::Reset() {
  std::lock_guard<std::mutex> lock(m_lock);
  for (GroupTraffic& t : m_traffic) t = GroupTraffic();
  m_start = std::chrono::steady_clock::now();
}

uint32_t GroupWatch::NowMs() const {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count());
}

GroupTraffic GroupWatch::Snapshot(int console) const {
  std::lock_guard<std::mutex> lock(m_lock);
  return console >= 1 && console <= 31 ? m_traffic[console] : GroupTraffic{};
}

void GroupWatch::Loop(OsSocket s, bool dmx, int first, int last) {
  // The driver's own decoder judges what its acceptance rule lets through.
  std::unique_ptr<DMX_DATA_CODER> coder;
  if (dmx) {
    coder.reset(new DMX_DATA_CODER);
    for (int u = 0; u < 64; ++u) coder->AddUniverse(u);
  }
  uint8_t buffer[2048];
  while (m_running) {
    if (osSelect(s, false, 200000) != 1) continue;
    OsDatagram info;
    const int n = osRecvFrom(s, buffer, sizeof buffer, &info);
    const int console = ConsoleOf(info.destination, dmx);
    if (n < 0 || console < first || console > last) continue;
    if (!dmx) {
      std::lock_guard<std::mutex> lock(m_lock);
      m_traffic[console].AddControl(buffer, n, info.source, info.sourcePort, NowMs());
      continue;
    }
    DmxVerdict verdict = info.truncated ? DmxVerdict::Oversize : JudgeDmx(buffer, n);
    if (verdict == DmxVerdict::Accepted && !coder->Decode(buffer + kRrHeaderSize, n - kRrHeaderSize))
      verdict = DmxVerdict::Malformed;
    std::lock_guard<std::mutex> lock(m_lock);
    m_traffic[console].AddDmx(verdict, buffer, n, info.source, info.sourcePort, NowMs());
  }
}
