#include "show_replay.h"

#include <chrono>
#include <thread>

#include "../protocol/dmx_sniffer.h"
#include "../protocol/pd_packet.h"
#include "../tvnLib/ipaddress.h"
#include "capture_file.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& p, size_t at) {
  return p.size() < at + 4
             ? 0
             : static_cast<uint32_t>(p[at]) | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<uint32_t>(p[at + 3]) << 24;
}

// The console whose DMX or control group a datagram went to, or 0.
int ConsoleOf(const CapturedDatagram& d, bool* dmx) {
  const int last = AddressOctet(d.destination, 3);
  if (AddressOctet(d.destination, 0) != 236 || AddressOctet(d.destination, 1) != 3) return 0;
  *dmx = AddressOctet(d.destination, 2) == 2 && d.destinationPort == DmxPort;
  if (*dmx) return last >= 33 && last <= 63 ? last - 32 : 0;
  const bool control = AddressOctet(d.destination, 2) == 3 && d.destinationPort == ControlPort;
  return control && last >= 1 && last <= 31 ? last : 0;
}

}  // namespace

bool ShowReplay::Load(const std::string& path, int console, std::string* error) {
  std::unique_ptr<CaptureReader> reader = OpenCapture(path, error);
  if (!reader) return false;
  m_reader = reader->How();
  m_console = console;
  CapturedDatagram d;
  int64_t first = 0;
  while (reader->Next(&d)) {
    bool dmx = false;
    const int from = ConsoleOf(d, &dmx);
    if (from == 0 || (m_console != 0 && from != m_console)) continue;
    const uint32_t type = Le32(d.payload, 16);
    // Of the control group only the console's own words: not the drivers'.
    if (!dmx && (Le32(d.payload, 12) != kPdSignature || (type != PD_ACCEPT && type != PD_SHUTDOWN))) continue;
    if (d.payload.size() < d.length) {
      ++m_cut;
      continue;
    }
    m_console = from;
    if (m_items.empty()) first = d.timeNs;
    m_items.push_back(ReplayItem{d.timeNs - first, dmx, type, d.payload});
  }
  if (!reader->Error().empty()) {
    *error = path + ": " + reader->Error();
    return false;
  }
  if (m_items.empty()) {
    *error = "no console traffic in " + path + (console != 0 ? " from console " + std::to_string(console) : "");
    return false;
  }
  // The pause between passes: the mean pause between the show's frames
  // (silences over 2 ms), else 25 ms.
  int64_t pauses = 0, count = 0;
  for (size_t i = 1; i < m_items.size(); ++i) {
    const int64_t gap = m_items[i].offsetNs - m_items[i - 1].offsetNs;
    if (gap > 2000000) pauses += gap, ++count;
  }
  m_periodNs = m_items.back().offsetNs + (count > 0 ? pauses / count : 25000000);
  return true;
}

void ShowReplay::Play(const std::function<void(const ReplayItem&)>& send, bool loop,
                      const std::atomic<bool>& stop) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (int64_t pass = 0; !stop; ++pass) {
    for (const ReplayItem& item : m_items) {
      const Clock::time_point at = start + std::chrono::nanoseconds(pass * m_periodNs + item.offsetNs);
      // In slices, so that a stop is seen within a tenth of a second.
      while (!stop && Clock::now() < at)
        std::this_thread::sleep_until(std::min(at, Clock::now() + std::chrono::milliseconds(100)));
      if (stop) return;
      send(item);
    }
    if (!loop) return;
  }
}
