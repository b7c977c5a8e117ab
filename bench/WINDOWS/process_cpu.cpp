#include "../bench_util.h"

#include <windows.h>

namespace {
double Seconds(const FILETIME& t) {
  return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
}
}  // namespace

double ProcessCpuSeconds() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
  return Seconds(kernel) + Seconds(user);
}

double ThreadCpuSeconds() {
  FILETIME created, ended, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return -1;
  return Seconds(kernel) + Seconds(user);
}
