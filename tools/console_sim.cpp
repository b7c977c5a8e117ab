#include "console_sim.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "../tvnLib/ipaddress.h"
#include "../tvnLib/os.h"
#include "dmx_encode.h"
#include "local_port.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case PD_HEARTBEAT:
      return "PD_HEARTBEAT";
    case PD_ACCEPT:
      return "PD_ACCEPT";
    case PD_MIDI_AUTOFOCUS:
      return "PD_MIDI_AUTOFOCUS";
    case PD_SHUTDOWN:
      return "PD_SHUTDOWN";
    case PD_BLIND_AF_DMX:
      return "PD_BLIND_AF_DMX";
    case PD_BLIND_AF_SELECTION:
      return "PD_BLIND_AF_SELECTION";
    default:
      return "UNKNOWN";
  }
}

}  // namespace

ConsoleSimulator::ConsoleSimulator(const SimOptions& options) : m_options(options) {
  if (m_options.interfaceAddr == 0) m_options.interfaceAddr = MakeAddress(127, 0, 0, 1);
  if (m_options.universes < 1) m_options.universes = 1;
  if (m_options.universes > 64) m_options.universes = 64;
  // Spelled out here rather than taken from the driver, so that the driver's
  // own formula is checked on the wire.
  m_controlGroup = MakeAddress(236, 3, 3, static_cast<uint8_t>(m_options.console));
  m_dmxGroup = MakeAddress(236, 3, 2, static_cast<uint8_t>(32 + m_options.console));
  m_levels.assign(512 * static_cast<size_t>(m_options.universes), m_options.level);
}

ConsoleSimulator::~ConsoleSimulator() { Stop(); }

uint64_t ConsoleSimulator::NowMs() const {
  return static_cast<uint64_t>(
             std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                 .count()) -
         m_startMs;
}

bool ConsoleSimulator::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error != nullptr) *error = std::string(what) + " (error " + std::to_string(osNetLastError()) + ")";
    Stop();
    return false;
  };
  m_startMs = 0;
  m_startMs = NowMs();
  m_receiveSocket = osUdpSocket();
  if (m_receiveSocket == kOsInvalidSocket) return fail("no socket");
  osSetSockOpt(m_receiveSocket, OsSockOpt::ReuseAddr, 1);
  osReportDestination(m_receiveSocket);
  const IPADDRESS any(ControlPort, 0);
  if (osBind(m_receiveSocket, &any) != 0) return fail("cannot bind port 6007");
  if (osMembership(m_receiveSocket, true, m_controlGroup, m_options.interfaceAddr) != 0)
    return fail("cannot join the control group");
  m_sendSocket = osUdpSocket();
  if (m_sendSocket == kOsInvalidSocket) return fail("no socket");
  const IPADDRESS anyPort(0, 0);
  if (osBind(m_sendSocket, &anyPort) != 0) return fail("cannot bind the sending socket");
  m_sendPort = LocalPort(m_sendSocket);
  if (osSetMulticastIf(m_sendSocket, m_options.interfaceAddr) != 0) return fail("cannot use the interface");
  osSetSockOpt(m_sendSocket, OsSockOpt::MulticastLoop, 1);
  osSetSockOpt(m_sendSocket, OsSockOpt::MulticastTtl, 1);
  m_running = true;
  m_receiver = std::thread([this] { ReceiveLoop(); });
  m_sender = std::thread([this] { SendLoop(); });
  return true;
}

void ConsoleSimulator::Stop() {
  m_running = false;
  m_changed.notify_all();
  if (m_receiveSocket != kOsInvalidSocket) osSocketWake(m_receiveSocket);
  if (m_receiver.joinable()) m_receiver.join();
  if (m_sender.joinable()) m_sender.join();
  if (m_receiveSocket != kOsInvalidSocket) osSocketClose(m_receiveSocket);
  if (m_sendSocket != kOsInvalidSocket) osSocketClose(m_sendSocket);
  m_receiveSocket = kOsInvalidSocket;
  m_sendSocket = kOsInvalidSocket;
}

void ConsoleSimulator::SendRaw(const void* data, int length) {
  const IPADDRESS destination(ControlPort, m_controlGroup);
  std::lock_guard<std::mutex> lock(m_sendMutex);
  if (m_sendSocket != kOsInvalidSocket) osSendTo(m_sendSocket, data, length, &destination);
}

void ConsoleSimulator::SendControl(uint32_t type) {
  const PD_PACKET packet(type);
  SendRaw(&packet, kPdPacketSize);
}

void ConsoleSimulator::SendAccept() {
  m_lastAcceptMs = NowMs();
  m_shutdownAtMs =
      m_options.shutdownAfterMs >= 0 ? m_lastAcceptMs + static_cast<uint64_t>(m_options.shutdownAfterMs) : 0;
  m_accepted = true;
  SendControl(PD_ACCEPT);
}

void ConsoleSimulator::SendShutdown() {
  m_accepted = false;
  SendControl(PD_SHUTDOWN);
}

void ConsoleSimulator::OnControlPacket(std::function<void(const SimControlPacket&)> callback) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_callback = std::move(callback);
}

std::vector<SimControlPacket> ConsoleSimulator::ControlPackets() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_packets;
}

bool ConsoleSimulator::WaitForControl(uint32_t type, int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    int seen = 0;
    for (const SimControlPacket& p : m_packets) seen += p.type == type ? 1 : 0;
    return seen >= count;
  });
}

void ConsoleSimulator::ReceiveLoop() {
  uint8_t buffer[2048];
  uint64_t shutdownSentMs = 0;
  while (m_running) {
    const uint64_t now = NowMs();
    if (m_accepted && m_shutdownAtMs != 0 && now >= m_shutdownAtMs) {
      m_shutdownAtMs = 0;
      SendShutdown();
      shutdownSentMs = now;
    }
    const bool reacceptDue = !m_accepted && shutdownSentMs != 0 && m_options.reacceptAfterMs >= 0 &&
                             now >= shutdownSentMs + static_cast<uint64_t>(m_options.reacceptAfterMs);
    if (reacceptDue) {
      shutdownSentMs = 0;
      SendAccept();
    }
    if (osSelect(m_receiveSocket, false, 100000) != 1) continue;
    OsDatagram info;
    const int n = osRecvFrom(m_receiveSocket, buffer, sizeof buffer, &info);
    if (n <= 0 || !m_running) continue;
    if (info.destination != 0 && info.destination != m_controlGroup) continue;
    SimControlPacket packet;
    packet.length = n;
    packet.bytes.assign(buffer, buffer + n);
    packet.signature = n >= 16 ? Le32(buffer + 12) : 0;
    packet.type = n >= 20 ? Le32(buffer + 16) : 0;
    packet.receiving = n >= 24 ? Le32(buffer + 20) : 0;
    packet.atMs = NowMs();
    packet.source = info.source;
    packet.sourcePort = info.sourcePort;
    // Our own PD_ACCEPT and PD_SHUTDOWN come back through the loop.
    if (info.sourcePort == m_sendPort && info.source == m_options.interfaceAddr) continue;
    std::function<void(const SimControlPacket&)> callback;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_options.keepPackets) m_packets.push_back(packet);
      callback = m_callback;
    }
    m_changed.notify_all();
    if (callback) callback(packet);
    // A heartbeat from a driver that does not receive yet asks to be
    // accepted, at most once per acceptance interval.
    const bool asks = packet.type == PD_HEARTBEAT && packet.signature == kPdSignature && packet.receiving == 0;
    if (asks && !m_options.neverAccept && shutdownSentMs == 0 &&
        (m_lastAcceptMs == 0 || NowMs() >= m_lastAcceptMs + static_cast<uint64_t>(m_options.acceptIntervalMs))) {
      if (m_options.acceptDelayMs > 0) osSleepMs(m_options.acceptDelayMs);
      if (m_running) SendAccept();
    }
  }
}

void ConsoleSimulator::SetLevels(int universe, const uint8_t* levels, bool sendNow) {
  if (universe < 0 || universe >= m_options.universes) return;
  std::vector<std::vector<uint8_t>> datagrams;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t* target = m_levels.data() + 512 * universe;
    std::memcpy(target, levels, 512);
    if (sendNow) datagrams = BuildFrame({universe}, target, nullptr, m_options.dmxVersion, m_options.dmxType);
  }
  for (const auto& datagram : datagrams) SendDmxDatagram(datagram);
}

void ConsoleSimulator::SendDmxDatagram(const std::vector<uint8_t>& datagram) {
  const IPADDRESS destination(9138, m_dmxGroup);
  std::lock_guard<std::mutex> lock(m_sendMutex);
  if (m_sendSocket != kOsInvalidSocket)
    osSendTo(m_sendSocket, datagram.data(), static_cast<int>(datagram.size()), &destination);
}

void ConsoleSimulator::NextFrame(uint64_t frame) {
  static std::mt19937 random(12345);
  const int universes = m_options.universes;
  for (int u = 0; u < universes; ++u) {
    uint8_t* levels = m_levels.data() + 512 * u;
    switch (m_options.pattern) {
      case SimPattern::Static:
        break;
      case SimPattern::Chase:
        for (int c = 0; c < 512; ++c) levels[c] = ((c + frame) % 16 == 0) ? 255 : 0;
        break;
      case SimPattern::Fade:
        for (int c = 0; c < 512; ++c)
          levels[c] =
              static_cast<uint8_t>((frame * 4 + static_cast<uint64_t>(c) + static_cast<uint64_t>(u) * 7) & 0xFF);
        break;
      case SimPattern::RandomSparse:
        for (int i = 0; i < 10; ++i) levels[random() % 512] = static_cast<uint8_t>(random());
        break;
    }
  }
}

void ConsoleSimulator::SendLoop() {
  if (m_options.rateHz <= 0) return;
  const auto period = std::chrono::microseconds(static_cast<int64_t>(1e6 / m_options.rateHz));
  auto next = std::chrono::steady_clock::now();
  const uint64_t refreshEvery = static_cast<uint64_t>(m_options.rateHz < 1 ? 1 : m_options.rateHz);
  std::vector<int> universes;
  for (int u = 0; u < m_options.universes; ++u) universes.push_back(u);
  for (uint64_t frame = 0; m_running; ++frame) {
    std::vector<std::vector<uint8_t>> datagrams;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      NextFrame(frame);
      const bool full = !m_options.changedOnly || m_previous.empty() || frame % refreshEvery == 0;
      datagrams = BuildFrame(universes, m_levels.data(), full ? nullptr : m_previous.data(), m_options.dmxVersion,
                             m_options.dmxType);
      m_previous = m_levels;
    }
    for (const auto& datagram : datagrams) SendDmxDatagram(datagram);
    ++m_framesSent;
    next += period;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, next, [this] { return !m_running; });
  }
}

std::string ConsoleSimulator::Describe(const SimControlPacket& packet) {
  char line[2048];
  const uint8_t* b = packet.bytes.data();
  int n = std::snprintf(line, sizeof line, "%s len=%d sig=%u", TypeName(packet.type), packet.length, packet.signature);
  auto add = [&](const char* format, auto... args) {
    if (n < static_cast<int>(sizeof line))
      n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), format, args...);
  };
  if (packet.length < kPdPacketSize) return line;
  const uint32_t count = Le32(b + 36);
  switch (packet.type) {
    case PD_HEARTBEAT:
      add(" Receiving=%u", packet.receiving);
      break;
    case PD_MIDI_AUTOFOCUS:
      add(" Count=%u Items=", count);
      for (uint32_t i = 0; i < count + 2 && i < 244; ++i) add("%02x", b[44 + i]);
      break;
    case PD_BLIND_AF_DMX:
      add(" Spot=%d Port=%u Count=%u pairs=", static_cast<int32_t>(Le32(b + 24)), Le32(b + 32), count);
      for (uint32_t i = 0; i < count && i < 128; ++i)
        add("%s%u:%u", i ? "," : "", b[44 + 4 * i] | b[45 + 4 * i] << 8, b[46 + 4 * i] | b[47 + 4 * i] << 8);
      break;
    case PD_BLIND_AF_SELECTION:
      add(" Count=%u StatusMask=0x%x entries=", count, Le32(b + 40));
      for (uint32_t i = 0; i < count && i < 64; ++i)
        add("%s%d:%d", i ? "," : "", static_cast<int32_t>(Le32(b + 44 + 8 * i)),
            static_cast<int32_t>(Le32(b + 48 + 8 * i)));
      break;
    default:
      break;
  }
  return line;
}
