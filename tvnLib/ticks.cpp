#include "ticks.h"

#include "os.h"

int32_t TicksFromMs(uint32_t ms) {
  const int64_t product = static_cast<int64_t>(static_cast<int32_t>(ms)) * kTicksPerSecond;
  const int64_t rounded = product >= 0 ? (product + 500) / 1000 : (product - 500) / 1000;
  return static_cast<int32_t>(rounded);
}

uint32_t MsFromTicks(int32_t ticks) {
  if (ticks == -1) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(static_cast<int64_t>(ticks) * 1000 / kTicksPerSecond);
}

int32_t tickNow() { return TicksFromMs(osTickCountMs()); }

int32_t StartTicks = tickNow();
