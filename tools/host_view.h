// What the test host shows of the consoles it polls: for people a live view
// (each universe streaming, lost or silent, and one universe's 512 levels
// numbered 1 to 512 as lighting people count channels, in decimal, percent
// or hex), for scripts one JSON line per poll.
//
// Plain functions over the host's own records; called on the host's thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "traffic_tally.h"

enum class LevelView { Decimal, Percent, Hex };

// One connected console: the levels the host last read, and what its
// groups carried (from the host's listener beside the driver).
struct HostConsole {
  uint16_t handle;                // the console number
  std::vector<uint8_t> levels;    // 64 x 512, as last read
  std::vector<uint32_t> changed;  // osTickCountMs() of each universe's last change
  GroupTraffic heard;             // what the listener heard; valid when `watched`
  uint32_t heardNowMs = 0;        // the listener's clock when it was taken
  bool watched = false;
};

// A universe streams while its datagrams come (whatever their levels: a
// blackout streams too), is lost once they have stopped for 2 s, and is
// silent when none came. Without a listener the host can only judge by
// levels that change or are not 0.
enum class UniverseState { Silent, Streaming, Lost };
UniverseState StateOf(const HostConsole& console, int universe, uint32_t nowMs);

void PrintView(FILE* out, const std::vector<HostConsole>& consoles, uint64_t frame, int universe, LevelView view,
               uint32_t nowMs);
void PrintJson(FILE* out, const std::vector<HostConsole>& consoles, uint64_t frame, uint32_t ms, int universe,
               int channels, uint32_t nowMs);
