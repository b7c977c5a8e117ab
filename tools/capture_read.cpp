// The built-in capture reader (pcapng and pcap), and the link layers that
// every reader peels off down to UDP over IPv4.
#include <algorithm>
#include <cstring>
#include <fstream>

#include "capture_file.h"

namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Reads the file's integers in the byte order its header announced.
class Bytes {
 public:
  bool swapped = false;
  uint16_t U16(const uint8_t* p) const { return swapped ? Be16(p) : static_cast<uint16_t>(p[0] | p[1] << 8); }
  uint32_t U32(const uint8_t* p) const {
    return swapped ? static_cast<uint32_t>(Be16(p)) << 16 | Be16(p + 2)
                   : static_cast<uint32_t>(U16(p)) | static_cast<uint32_t>(U16(p + 2)) << 16;
  }
};

struct Interface {
  int linkType;
  uint64_t unitsPerSecond;  // of its time stamps
};

// Owns the open file and the interfaces of the current section; one thread
// at a time, as every reader.
class BuiltInReader : public CaptureReader {
 public:
  explicit BuiltInReader(std::ifstream in) : m_in(std::move(in)) {}
  bool Start(std::string* error);
  bool Next(CapturedDatagram* out) override;
  std::string Error() const override { return m_error; }
  std::string How() const override { return "built-in reader"; }

 private:
  bool Read(std::vector<uint8_t>& buffer, size_t n) {
    buffer.resize(n);
    return n == 0 ||
           static_cast<bool>(m_in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(n)));
  }
  bool Fail(const std::string& why) {
    m_error = why;
    return false;
  }
  bool NextPcap(CapturedDatagram* out);
  bool NextPcapng(CapturedDatagram* out);
  void AddInterface(const std::vector<uint8_t>& body);

  std::ifstream m_in;
  Bytes m_bytes;
  bool m_pcapng = false;
  Interface m_pcap{1, 1000000};  // classic pcap: one link type, micro- or nanoseconds
  std::vector<Interface> m_interfaces;
  std::string m_error;
};

bool BuiltInReader::Start(std::string* error) {
  std::vector<uint8_t> head;
  if (!Read(head, 24)) return *error = "not a capture file (too short)", false;
  const uint32_t magic =
      static_cast<uint32_t>(head[0]) | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
  if (magic == 0x0A0D0D0A) {
    m_pcapng = true;
    m_in.seekg(0);
    return true;
  }
  const uint32_t swappedMagic = __builtin_bswap32(magic);
  for (const uint32_t m : {magic, swappedMagic}) {
    if (m != 0xA1B2C3D4 && m != 0xA1B23C4D) continue;
    m_bytes.swapped = m == swappedMagic && magic != swappedMagic;
    m_pcap.unitsPerSecond = m == 0xA1B23C4D ? 1000000000 : 1000000;
    m_pcap.linkType = static_cast<int>(m_bytes.U32(&head[20]) & 0xFFFF);
    return true;
  }
  *error = "not a pcap or pcapng file";
  return false;
}

bool BuiltInReader::Next(CapturedDatagram* out) {
  while (m_error.empty()) {
    if (m_in.peek() == std::char_traits<char>::eof()) return false;
    if (m_pcapng ? NextPcapng(out) : NextPcap(out)) return true;
  }
  return false;
}

bool BuiltInReader::NextPcap(CapturedDatagram* out) {
  std::vector<uint8_t> record, frame;
  if (!Read(record, 16)) return Fail("a packet record is cut short");
  const uint32_t captured = m_bytes.U32(&record[8]);
  if (captured > (1u << 20) || !Read(frame, captured)) return Fail("a packet is cut short");
  out->timeNs =
      static_cast<int64_t>(m_bytes.U32(&record[0])) * 1000000000 +
      static_cast<int64_t>(m_bytes.U32(&record[4])) * (1000000000 / static_cast<int64_t>(m_pcap.unitsPerSecond));
  return DatagramOfFrame(m_pcap.linkType, frame.data(), frame.size(), m_bytes.U32(&record[12]), out);
}

void BuiltInReader::AddInterface(const std::vector<uint8_t>& body) {
  Interface i{m_bytes.U16(&body[0]), 1000000};
  for (size_t at = 8; at + 4 <= body.size();) {
    const uint16_t code = m_bytes.U16(&body[at]), length = m_bytes.U16(&body[at + 2]);
    if (code == 0 || at + 4 + length > body.size()) break;
    if (code == 9 && length >= 1) {  // time stamp resolution: 10^-n, or 2^-n with the top bit
      const uint8_t r = body[at + 4];
      i.unitsPerSecond = 1;
      for (int k = 0; k < (r & 0x7F); ++k) i.unitsPerSecond *= (r & 0x80) != 0 ? 2 : 10;
    }
    at += 4 + ((length + 3u) & ~3u);
  }
  m_interfaces.push_back(i);
}

bool BuiltInReader::NextPcapng(CapturedDatagram* out) {
  std::vector<uint8_t> head, body;
  if (!Read(head, 8)) return Fail("a block is cut short");
  uint32_t type = m_bytes.U32(&head[0]);
  if (type == 0x0A0D0D0A) {  // a section: its own byte order and interfaces
    if (!Read(body, 4)) return Fail("a section header is cut short");
    m_bytes.swapped = body[0] == 0x1A;
    m_interfaces.clear();
  }
  const uint32_t length = m_bytes.U32(&head[4]);
  if (length < 12 || length % 4 != 0 || length > (1u << 24)) return Fail("a block's length is broken");
  const size_t already = type == 0x0A0D0D0A ? 4 : 0;
  std::vector<uint8_t> rest;
  if (!Read(rest, length - 8 - already)) return Fail("a block is cut short");
  body.insert(body.end(), rest.begin(), rest.end() - 4);
  if (type == 1 && body.size() >= 8) AddInterface(body);
  if (type != 6 || body.size() < 20) return false;  // only enhanced packets carry what we read
  const uint32_t id = m_bytes.U32(&body[0]), captured = m_bytes.U32(&body[12]);
  if (id >= m_interfaces.size() || 20 + static_cast<size_t>(captured) > body.size())
    return Fail("a packet block is broken");
  const Interface& i = m_interfaces[id];
  const uint64_t stamp = static_cast<uint64_t>(m_bytes.U32(&body[4])) << 32 | m_bytes.U32(&body[8]);
  out->timeNs = static_cast<int64_t>(stamp / i.unitsPerSecond * 1000000000 +
                                     stamp % i.unitsPerSecond * 1000000000 / i.unitsPerSecond);
  return DatagramOfFrame(i.linkType, &body[20], captured, m_bytes.U32(&body[16]), out);
}

}  // namespace

bool DatagramOfFrame(int linkType, const uint8_t* f, size_t captured, uint32_t frameLength, CapturedDatagram* out) {
  size_t at = 0;
  uint16_t etherType = 0x0800;
  switch (linkType) {
    case 1:  // Ethernet, VLAN tags passed over
      at = 14;
      if (captured < 14) return false;
      etherType = Be16(f + 12);
      while (etherType == 0x8100 && captured >= at + 4) {
        etherType = Be16(f + at + 2);
        at += 4;
      }
      break;
    case 113:  // Linux cooked
      at = 16;
      if (captured < 16) return false;
      etherType = Be16(f + 14);
      break;
    case 276:  // Linux cooked, second version
      at = 20;
      if (captured < 20) return false;
      etherType = Be16(f);
      break;
    case 0:    // BSD loopback: the address family in the machine's order
    case 108:  // the same in network order
      at = 4;
      if (captured < 4 || (f[0] != 2 && f[3] != 2)) return false;
      break;
    case 101:  // raw IP
    case 228:  // raw IPv4
      break;
    default:
      return false;
  }
  if (etherType != 0x0800 || captured < at + 20 || f[at] >> 4 != 4) return false;
  const uint8_t* ip = f + at;
  const size_t ipHeader = static_cast<size_t>(ip[0] & 15) * 4;
  const uint16_t fragment = Be16(ip + 6);
  if (ip[9] != 17 || (fragment & 0x1FFF) != 0 || (fragment & 0x2000) != 0) return false;
  if (ipHeader < 20 || captured < at + ipHeader + 8) return false;
  const uint8_t* udp = ip + ipHeader;
  const size_t payloadAt = at + ipHeader + 8;
  std::memcpy(&out->source, ip + 12, 4);
  std::memcpy(&out->destination, ip + 16, 4);
  out->sourcePort = Be16(udp);
  out->destinationPort = Be16(udp + 2);
  const uint16_t udpLength = Be16(udp + 4);
  out->length = udpLength >= 8            ? udpLength - 8u
                : frameLength > payloadAt ? static_cast<uint32_t>(frameLength - payloadAt)
                                          : 0;
  out->payload.assign(f + payloadAt, f + std::min(captured, payloadAt + out->length));
  return true;
}

std::unique_ptr<CaptureReader> OpenCaptureBuiltIn(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return nullptr;
  }
  std::unique_ptr<BuiltInReader> reader(new BuiltInReader(std::move(in)));
  if (!reader->Start(error)) return nullptr;
  return std::unique_ptr<CaptureReader>(reader.release());
}

#ifndef PV_HAVE_LIBPCAP
std::unique_ptr<CaptureReader> OpenCapture(const std::string& path, std::string* error) {
  return OpenCaptureBuiltIn(path, error);
}
#endif
