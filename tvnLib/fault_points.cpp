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
std::atomic<uint32_t> g_threads[kPoints] = {};  // 0: any thread

const char* const kNames[kPoints] = {
    "attach-fails",   "start-before-resume",  "task-before-init",
    "staterecv-before-join", "staterecv-in-loop", "stopsniffer-taken",
    "heartbeat-in-loop", "decode-holding-levels", "receiver-no-packet", "echo-line-held"};

struct AllOff {
  AllOff() { FaultDisarmAll(); }
} g_allOff;

std::atomic<int32_t>& Slot(FaultPoint point) { return g_points[static_cast<int>(point)]; }

}  // namespace

void FaultArm(FaultPoint point, int32_t ms, uint32_t threadId) {
  g_threads[static_cast<int>(point)].store(threadId);
  Slot(point).store(ms < 0 ? kStick : ms);
}

void FaultDisarmAll() {
  for (std::atomic<int32_t>& point : g_points) point.store(kOff);
}

bool FaultArmed(FaultPoint point) {
  if (Slot(point).load(std::memory_order_relaxed) == kOff) return false;
  const uint32_t thread = g_threads[static_cast<int>(point)].load();
  return thread == 0 || thread == osCurrentThreadId();
}

void FaultPause(FaultPoint point) {
  if (!FaultArmed(point)) return;
  const int32_t ms = Slot(point).load();
  if (ms == kOff) return;
  if (ms >= 0) {
    osSleepMs(ms);
    return;
  }
  while (Slot(point).load() == kStick) osSleepMs(20);
}

void FaultsFromEnvironment() {
  char text[512];
  if (!osGetEnvironment("PVTRIVANE_FAULTS", text, sizeof text)) return;
  for (int i = 0; i < kPoints; ++i) {
    const char* at = std::strstr(text, kNames[i]);
    if (at == nullptr) continue;
    const char* after = at + std::strlen(kNames[i]);
    if (*after != '\0' && *after != ',' && *after != '=') continue;
    FaultArm(static_cast<FaultPoint>(i), *after == '=' ? static_cast<int32_t>(std::atoi(after + 1)) : kStick);
  }
}
