// The runtime's clock: ticks of 1/300 second.
#pragma once

#include <cstdint>

constexpr int32_t kTicksPerSecond = 300;

// Milliseconds to ticks with the platform's MulDiv rule: the tick count is
// taken as a signed 32-bit number, multiplied by 300, divided by 1000 and
// rounded half away from zero. 1000 ms -> 300, 1 ms -> 0, 2 ms -> 1.
int32_t TicksFromMs(uint32_t ms);

// Ticks to milliseconds: ticks * 1000 / 300 in signed 32-bit arithmetic,
// truncated toward zero; -1 (no limit) gives all bits set.
uint32_t MsFromTicks(int32_t ticks);

// Current time in ticks since system start.
int32_t tickNow();

// tickNow() taken once while the library's static data is set up at load.
extern int32_t StartTicks;
