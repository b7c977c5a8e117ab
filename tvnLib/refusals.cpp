#include "refusals.h"

#include <atomic>

#include "os.h"

namespace {
std::atomic<int> g_refusedCreations{0};
}  // namespace

void osRefuseCreations(int count) { g_refusedCreations.store(count < 0 ? 0 : count); }

bool CreationRefused() {
  int left = g_refusedCreations.load();
  while (left > 0)
    if (g_refusedCreations.compare_exchange_weak(left, left - 1)) return true;
  return false;
}
