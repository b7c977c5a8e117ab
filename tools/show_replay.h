// A recorded show, sent again as a console: the DMX datagrams and the
// acceptances and shutdowns that one console sent, each at the offset from
// the recording's start at which it was recorded. Every send is scheduled
// from one starting instant (start + offset, + one period per pass when
// looping), so that no error accumulates however long the show runs.
//
// Loaded and played on one thread; Play stops when `stop` becomes true.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ReplayItem {
  int64_t offsetNs;  // from the first item
  bool dmx;          // a DMX datagram; else a control packet (PD_ACCEPT or PD_SHUTDOWN)
  uint32_t type;     // the control packet's type
  std::vector<uint8_t> payload;
};

class ShowReplay {
 public:
  // Reads the recording's traffic of `console` (0: the first console in it).
  bool Load(const std::string& path, int console, std::string* error);

  int Console() const { return m_console; }
  const std::vector<ReplayItem>& Items() const { return m_items; }
  std::string Reader() const { return m_reader; }
  uint32_t CutShort() const { return m_cut; }  // datagrams the capture cut, left out
  double Seconds() const { return m_items.empty() ? 0 : m_items.back().offsetNs / 1e9; }
  // One pass and the pause after it: the show's frame interval.
  int64_t PeriodNs() const { return m_periodNs; }

  void Play(const std::function<void(const ReplayItem&)>& send, bool loop, const std::atomic<bool>& stop) const;

 private:
  std::vector<ReplayItem> m_items;
  int m_console = 0;
  std::string m_reader;
  uint32_t m_cut = 0;
  int64_t m_periodNs = 0;
};
