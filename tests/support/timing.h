// Time as the tests measure it: a steady clock, in milliseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits until `predicate` holds, up to `ms`.
template <typename Predicate>
bool Eventually(Predicate predicate, int ms = 3000) {
  for (const auto until = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < until;
       std::this_thread::sleep_for(std::chrono::milliseconds(5)))
    if (predicate()) return true;
  return predicate();
}

// Milliseconds that `f` takes.
template <typename F>
int64_t MsTaken(F f) {
  const auto start = Clock::now();
  f();
  return MsSince(start);
}
