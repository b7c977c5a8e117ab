#include "../bench_util.h"

#include <time.h>

// The scheduler's own account of the process's running time, to the
// nanosecond (the resource-usage counters are sampled at the clock tick).
double ProcessCpuSeconds() {
  timespec t;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return -1;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ThreadCpuSeconds() {
  timespec t;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return -1;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
