#include "refusals.h"

#include <atomic>

#include "os.h"

namespace {
std::atomic<int> g_refusedCreations{0};
std::atomic<bool> g_threadsStopped{false};
}  // namespace

void osRefuseCreations(int count) { g_refusedCreations.store(count < 0 ? 0 : count); }

void osStopCreatingThreads(bool stop) { g_threadsStopped.store(stop); }
bool osCreatingThreadsStopped() { return g_threadsStopped.load(); }

bool CreationRefused() {
  int left = g_refusedCreations.load();
  while (left > 0)
    if (g_refusedCreations.compare_exchange_weak(left, left - 1)) return true;
  return false;
}

bool ThreadCreationRefused() { return g_threadsStopped.load() || CreationRefused(); }
