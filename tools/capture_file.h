// Capture files of console traffic: UDP datagrams over IPv4 with absolute
// time stamps. Written as pcapng (one interface of raw IPv4 packets, time
// stamps in nanoseconds), which Wireshark and tshark read with the
// dissector; read from pcapng or pcap files of Ethernet, raw IPv4, Linux
// cooked or loopback captures, through libpcap where the build has it and
// the built-in reader elsewhere (the Windows build).
//
// A writer or reader belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct CapturedDatagram {
  int64_t timeNs = 0;        // since 1970-01-01 UTC
  uint32_t source = 0;       // network order
  uint32_t destination = 0;  // network order
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  std::vector<uint8_t> payload;  // as captured (possibly cut short)
  uint32_t length = 0;           // the UDP payload's length on the wire
};

class CaptureWriter {
 public:
  CaptureWriter() = default;
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Starts a pcapng file whose section names `application`.
  bool Open(const std::string& path, const std::string& application, std::string* error);
  bool Write(const CapturedDatagram& datagram);
  // Flushes and closes; false when anything failed to be written.
  bool Close();

 private:
  bool Block(uint32_t type, const std::vector<uint8_t>& body);
  FILE* m_file = nullptr;
  bool m_ok = true;
};

class CaptureReader {
 public:
  virtual ~CaptureReader() = default;
  // The next UDP datagram over IPv4 (other packets are passed over); false
  // at the end of the file or when it breaks (then Error() says why).
  virtual bool Next(CapturedDatagram* out) = 0;
  virtual std::string Error() const = 0;
  // Which reader reads the file ("libpcap ..." or "built-in reader").
  virtual std::string How() const = 0;
};

// Opens a capture file with libpcap where the build has it, else with the
// built-in reader; null (with `error`) when it cannot be read.
std::unique_ptr<CaptureReader> OpenCapture(const std::string& path, std::string* error);
std::unique_ptr<CaptureReader> OpenCaptureBuiltIn(const std::string& path, std::string* error);

// The UDP datagram in one captured frame of link type `linkType`: false for
// anything else (other protocols, IP fragments after the first, frames cut
// before the UDP header). `frameLength` is the frame's length on the wire.
bool DatagramOfFrame(int linkType, const uint8_t* frame, size_t captured, uint32_t frameLength, CapturedDatagram* out);
