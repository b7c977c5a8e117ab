// A deadline `ms` milliseconds from now on `clock`, for the timed waits of
// the POSIX layer.
#pragma once

#include <time.h>

#include <cstdint>

inline timespec DeadlineAfter(uint32_t ms, clockid_t clock) {
  timespec deadline;
  clock_gettime(clock, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return deadline;
}
