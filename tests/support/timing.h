// Time as the tests measure it: a steady clock, in milliseconds.
#pragma once

#include <chrono>
#include <cstdint>

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Milliseconds that `f` takes.
template <typename F>
int64_t MsTaken(F f) {
  const auto start = Clock::now();
  f();
  return MsSince(start);
}
