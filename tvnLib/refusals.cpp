#include "refusals.h"

#include <atomic>

#include "os.h"

namespace {
// The calling thread's own: what another thread makes meanwhile (a socket
// wait's events, say) never uses up a refusal meant for this one.
thread_local int t_refusedCreations = 0;
std::atomic<bool> g_threadsStopped{false};
}  // namespace

void osRefuseCreations(int count) { t_refusedCreations = count < 0 ? 0 : count; }

void osStopCreatingThreads(bool stop) { g_threadsStopped.store(stop); }
bool osCreatingThreadsStopped() { return g_threadsStopped.load(); }

bool CreationRefused() {
  if (t_refusedCreations <= 0) return false;
  --t_refusedCreations;
  return true;
}

bool ThreadCreationRefused() { return g_threadsStopped.load() || CreationRefused(); }
