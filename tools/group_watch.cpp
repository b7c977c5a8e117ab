#include "group_watch.h"

#include <algorithm>
#include <cstring>

#include "../dmx_net/COMMON/rr_header.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/ipaddress.h"

const char* const DmxVerdictNames[kDmxVerdicts] = {"accepted", "wrong version", "wrong length", "other type",
                                                   "no-decode flag"};

namespace {

constexpr uint16_t kDmxPort = 9138;

// The console whose group `destination` is (control or DMX), or 0.
int ConsoleOf(uint32_t destination, bool dmx) {
  if (AddressOctet(destination, 0) != 236 || AddressOctet(destination, 1) != 3) return 0;
  const int last = AddressOctet(destination, 3);
  if (!dmx && AddressOctet(destination, 2) == 3 && last >= 1 && last <= 31) return last;
  if (dmx && AddressOctet(destination, 2) == 2 && last >= 33 && last <= 63) return last - 32;
  return 0;
}

// A socket on `port` that joins consoles first..last's groups.
OsSocket Listener(uint16_t port, uint32_t interfaceAddr, int first, int last, std::string* error) {
  const bool dmx = port == kDmxPort;
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
    const uint32_t group = dmx ? MakeAddress(236, 3, 2, static_cast<uint8_t>(32 + console)) : ConsoleGroup(console);
    if (osMembership(s, true, group, interfaceAddr) != 0) {
      *error = "cannot join the consoles' groups on this interface (error " + std::to_string(osNetLastError()) + ")";
      osSocketClose(s);
      return kOsInvalidSocket;
    }
  }
  return s;
}

}  // namespace

GroupWatch::GroupWatch(uint32_t interfaceAddr) : m_interface(interfaceAddr) {}

GroupWatch::~GroupWatch() { Stop(); }

bool GroupWatch::Start(std::string* error) {
  // Consoles 1-16 and 17-31 on a socket each, for each port.
  for (const uint16_t port : {ControlPort, kDmxPort}) {
    for (const int first : {1, 17}) {
      const OsSocket s = Listener(port, m_interface, first, first == 1 ? 16 : 31, error);
      if (s == kOsInvalidSocket) {
        Stop();
        return false;
      }
      m_sockets.push_back(s);
    }
  }
  m_running = true;
  for (size_t i = 0; i < m_sockets.size(); ++i) {
    const OsSocket s = m_sockets[i];
    const bool dmx = i >= 2;
    const int first = i % 2 == 0 ? 1 : 17;
    m_threads.emplace_back([this, s, dmx, first] { Loop(s, dmx, first, first == 1 ? 16 : 31); });
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

GroupTraffic GroupWatch::Snapshot(int console) const {
  std::lock_guard<std::mutex> lock(m_lock);
  return console >= 1 && console <= 31 ? m_traffic[console] : GroupTraffic{};
}

DmxVerdict GroupWatch::Judge(const uint8_t* d, int length) {
  if (length < kRrHeaderSize) return DmxVerdict::Length;
  RrHeader header;
  std::memcpy(static_cast<void*>(&header), d, sizeof header);
  if (header.Version() != kRrVersion) return DmxVerdict::Version;
  if (length != header.PayloadLength + kRrHeaderSize) return DmxVerdict::Length;
  if (header.PacketType() != DMX_DATA_NEW) return DmxVerdict::Type;
  if (header.NoDecodeFlag()) return DmxVerdict::Flag;
  return DmxVerdict::Accepted;
}

void GroupWatch::Loop(OsSocket s, bool dmx, int first, int last) {
  uint8_t buffer[2048];
  while (m_running) {
    if (osSelect(s, false, 200000) != 1) continue;
    OsDatagram info;
    const int n = osRecvFrom(s, buffer, sizeof buffer, &info);
    // Where every socket on the port hears every group joined on it (not
    // Linux), each socket counts only its own consoles.
    const int console = ConsoleOf(info.destination, dmx);
    if (n < 0 || console < first || console > last) continue;
    std::lock_guard<std::mutex> lock(m_lock);
    GroupTraffic& t = m_traffic[console];
    if (!dmx) {
      // Read as the state receiver reads it: zero-filled past its length.
      PD_PACKET packet(0);
      std::memset(static_cast<void*>(&packet), 0, sizeof packet);
      std::memcpy(static_cast<void*>(&packet), buffer, std::min<size_t>(static_cast<size_t>(n), sizeof packet));
      const uint32_t type = packet.Signature == kPdSignature ? static_cast<uint32_t>(packet.MsgType) : 7;
      ++t.control[type <= 6 ? type : 0];
      continue;
    }
    const DmxVerdict verdict = info.truncated ? DmxVerdict::Length : Judge(buffer, n);
    ++t.dmx[static_cast<int>(verdict)];
    if (verdict != DmxVerdict::Accepted || n < kRrHeaderSize + 12) continue;
    for (int g = 0; g < 8; ++g)
      for (int b = 0; b < 8; ++b)
        if ((buffer[kRrHeaderSize + 4 + g] >> b & 1) != 0) ++t.universe[8 * g + b];
  }
}
