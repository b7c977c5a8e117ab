// Capture files read through libpcap, where the build has it: every format
// and link type libpcap knows, time stamps in nanoseconds.
#include <pcap/pcap.h>

#include "capture_file.h"

namespace {

// Owns its pcap handle; one thread at a time, as every reader.
class LibpcapReader : public CaptureReader {
 public:
  explicit LibpcapReader(pcap_t* pcap) : m_pcap(pcap) {}
  ~LibpcapReader() override { pcap_close(m_pcap); }
  LibpcapReader(const LibpcapReader&) = delete;
  LibpcapReader& operator=(const LibpcapReader&) = delete;

  bool Next(CapturedDatagram* out) override {
    for (;;) {
      pcap_pkthdr* header = nullptr;
      const u_char* frame = nullptr;
      const int result = pcap_next_ex(m_pcap, &header, &frame);
      if (result == PCAP_ERROR_BREAK) return false;
      if (result != 1) {
        m_error = pcap_geterr(m_pcap);
        return false;
      }
      // With nanosecond precision tv_usec holds nanoseconds.
      out->timeNs = static_cast<int64_t>(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec;
      if (DatagramOfFrame(pcap_datalink(m_pcap), frame, header->caplen, header->len, out)) return true;
    }
  }
  std::string Error() const override { return m_error; }
  std::string How() const override { return pcap_lib_version(); }

 private:
  pcap_t* m_pcap;
  std::string m_error;
};

}  // namespace

std::unique_ptr<CaptureReader> OpenCapture(const std::string& path, std::string* error) {
  char message[PCAP_ERRBUF_SIZE] = "";
  pcap_t* pcap = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, message);
  if (pcap == nullptr) {
    *error = message;
    return nullptr;
  }
  return std::unique_ptr<CaptureReader>(new LibpcapReader(pcap));
}
