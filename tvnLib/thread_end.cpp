#include "thread_end.h"

#include "sync.h"

bool ForceEndThread(OsThread* thread, uint32_t waitMs) {
  if (thread == nullptr) return true;
  osThreadTerminate(thread);
  if (!osThreadJoin(thread, waitMs)) return false;
  // Windows ends the thread where it stands; POSIX unwinds it, which frees
  // what scoped guards held, and this finds nothing more.
  CCRITICAL_SECTION::ReleaseAllOf(osThreadId(thread));
  return true;
}

bool JoinOrEndThread(OsThread* thread, uint32_t graceMs) {
  if (osThreadJoin(thread, graceMs)) return true;
  return ForceEndThread(thread, graceMs < 1000 ? 1000 : graceMs);
}
