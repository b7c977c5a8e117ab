#include <cstring>

#include "capture_file.h"

namespace {

constexpr uint32_t kSectionHeader = 0x0A0D0D0A, kInterfaceDescription = 1, kEnhancedPacket = 6;
constexpr uint16_t kLinkTypeIpv4 = 228;  // raw IPv4 packets
constexpr uint16_t kOptionEnd = 0, kOptionApplication = 4, kOptionName = 2, kOptionTimeResolution = 9;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
void Pad(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}
void Option(std::vector<uint8_t>& out, uint16_t code, const void* data, size_t length) {
  Put16(out, code);
  Put16(out, static_cast<uint16_t>(length));
  out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
  Pad(out);
}

// The IPv4 and UDP headers in front of the payload, as a receiver sees
// them; the UDP checksum is left 0 (none), which IPv4 allows.
std::vector<uint8_t> Packet(const CapturedDatagram& d) {
  std::vector<uint8_t> p(28, 0);
  const uint32_t total = 28 + d.length;
  p[0] = 0x45;
  p[2] = static_cast<uint8_t>(total >> 8);
  p[3] = static_cast<uint8_t>(total);
  p[8] = 1;   // time to live: the consoles' multicast stays on the link
  p[9] = 17;  // UDP
  std::memcpy(&p[12], &d.source, 4);
  std::memcpy(&p[16], &d.destination, 4);
  uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  p[10] = static_cast<uint8_t>(~sum >> 8);
  p[11] = static_cast<uint8_t>(~sum);
  const uint32_t udp = 8 + d.length;
  p[20] = static_cast<uint8_t>(d.sourcePort >> 8);
  p[21] = static_cast<uint8_t>(d.sourcePort);
  p[22] = static_cast<uint8_t>(d.destinationPort >> 8);
  p[23] = static_cast<uint8_t>(d.destinationPort);
  p[24] = static_cast<uint8_t>(udp >> 8);
  p[25] = static_cast<uint8_t>(udp);
  p.insert(p.end(), d.payload.begin(), d.payload.end());
  return p;
}

}  // namespace

CaptureWriter::~CaptureWriter() { Close(); }

bool CaptureWriter::Open(const std::string& path, const std::string& application, std::string* error) {
  m_file = std::fopen(path.c_str(), "wb");
  if (m_file == nullptr) {
    *error = "cannot write " + path;
    return false;
  }
  std::vector<uint8_t> section;
  Put32(section, 0x1A2B3C4D);  // byte-order magic
  Put16(section, 1);
  Put16(section, 0);
  Put32(section, 0xFFFFFFFFu);  // section length: not given
  Put32(section, 0xFFFFFFFFu);
  Option(section, kOptionApplication, application.data(), application.size());
  Option(section, kOptionEnd, nullptr, 0);
  std::vector<uint8_t> interface;
  Put16(interface, kLinkTypeIpv4);
  Put16(interface, 0);
  Put32(interface, 0);  // no snap length
  const uint8_t nanoseconds = 9;
  Option(interface, kOptionName, "consoles' groups", 16);
  Option(interface, kOptionTimeResolution, &nanoseconds, 1);
  Option(interface, kOptionEnd, nullptr, 0);
  m_ok = Block(kSectionHeader, section) && Block(kInterfaceDescription, interface);
  if (!m_ok) *error = "cannot write " + path;
  return m_ok;
}

bool CaptureWriter::Write(const CapturedDatagram& d) {
  const std::vector<uint8_t> packet = Packet(d);
  std::vector<uint8_t> body;
  Put32(body, 0);  // interface 0
  const uint64_t stamp = static_cast<uint64_t>(d.timeNs);
  Put32(body, static_cast<uint32_t>(stamp >> 32));
  Put32(body, static_cast<uint32_t>(stamp));
  Put32(body, static_cast<uint32_t>(packet.size()));
  Put32(body, 28 + d.length);
  body.insert(body.end(), packet.begin(), packet.end());
  Pad(body);
  return m_ok = m_ok && Block(kEnhancedPacket, body);
}

bool CaptureWriter::Block(uint32_t type, const std::vector<uint8_t>& body) {
  if (m_file == nullptr) return false;
  std::vector<uint8_t> block;
  const uint32_t length = static_cast<uint32_t>(12 + body.size());
  Put32(block, type);
  Put32(block, length);
  block.insert(block.end(), body.begin(), body.end());
  Put32(block, length);
  return std::fwrite(block.data(), 1, block.size(), m_file) == block.size();
}

bool CaptureWriter::Close() {
  if (m_file == nullptr) return m_ok;
  m_ok = std::fclose(m_file) == 0 && m_ok;
  m_file = nullptr;
  return m_ok;
}
