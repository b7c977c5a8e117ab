#include "fault_points.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "os.h"

namespace {

constexpr int kPoints = static_cast<int>(FaultPoint::kCount);
constexpr int32_t kOff = INT32_MIN;
constexpr int32_t kStick = -1;

std::atomic<int32_t> g_points[kPoints] = {};

const char* const kNames[kPoints] = {
    "attach-fails",   "start-before-resume",  "task-before-init",
    "staterecv-before-join", "staterecv-in-loop", "stopsniffer-taken",
    "heartbeat-in-loop", "decode-holding-levels", "receiver-no-packet"};

struct AllOff {
  AllOff() { FaultDisarmAll(); }
} g_allOff;

std::atomic<int32_t>& Slot(FaultPoint point) { return g_points[static_cast<int>(point)]; }

}  // namespace

void FaultArm(FaultPoint point, int32_t ms) { Slot(point).store(ms < 0 ? kStick : ms); }

void FaultDisarmAll() {
  for (std::atomic<int32_t>& point : g_points) point.store(kOff);
}

bool FaultArmed(FaultPoint point) { return Slot(point).load(std::memory_order_relaxed) != kOff; }

void FaultPause(FaultPoint point) {
  const int32_t ms = Slot(point).load(std::memory_order_relaxed);
  if (ms == kOff) return;
  if (ms >= 0) {
    osSleepMs(ms);
    return;
  }
  while (Slot(point).load() == kStick) osSleepMs(20);
}

void FaultsFromEnvironment() {
  const char* text = std::getenv("PVTRIVANE_FAULTS");
  if (text == nullptr) return;
  for (int i = 0; i < kPoints; ++i) {
    const char* at = std::strstr(text, kNames[i]);
    if (at == nullptr) continue;
    const char* after = at + std::strlen(kNames[i]);
    if (*after != '\0' && *after != ',' && *after != '=') continue;
    FaultArm(static_cast<FaultPoint>(i), *after == '=' ? static_cast<int32_t>(std::atoi(after + 1)) : kStick);
  }
}
