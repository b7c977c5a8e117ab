// The task layer's threads on pthreads.
//
// POSIX has no equivalent of some Win32 thread calls; the choices:
// - A thread created suspended waits at a gate until the first resume;
//   resuming a running thread succeeds and changes nothing, as on Windows.
// - Another thread cannot be suspended: osThreadSuspend fails with ENOTSUP,
//   so taskSuspend returns -1 with its echo line.
// - Priorities (Win32 scale) map to the thread's nice value; raising one
//   needs privileges. Without them the value is kept (and read back) but
//   not applied, which the echo says once.
// - Forced termination is a deferred cancellation: the thread ends at its
//   next cancellation point (a wait, a sleep, a socket call) and unwinds,
//   so the locks it holds through scoped guards are released and later
//   tasks never dead-lock on them. A thread that never reaches a
//   cancellation point cannot be ended: its record, and the library's code
//   (which is never unloaded from then on), stay for it.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cxxabi.h>

#include <atomic>
#include <cstring>

#include "../ctask.h"
#include "../os.h"
#include "../refusals.h"
#include "../echo.h"
#include "../tvn_assert.h"
#include "deadline.h"

namespace {
enum Stage : int { kCreated, kEntered, kCancelled };
}  // namespace

// Owned by the thread that created it (osThreadClose releases it); the
// thread itself reads it until it has ended, and the owner joins the
// thread before releasing it.
struct OsThread {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;  // on the monotonic clock: a clock step changes no wait
  pthread_t thread{};
  pid_t kernelId = 0;    // known once the thread runs
  bool idKnown = false;
  bool released = false;  // the start gate is open
  bool ended = false;
  bool joined = false;    // owner only
  int priority = 0;
  std::atomic<int> stage{kCreated};
  OsThreadEntry entry = nullptr;
  void* arg = nullptr;
};

namespace {

// Marks the thread ended; runs on normal return and when a cancellation
// unwinds the thread.
void MarkEnded(void* p) {
  OsThread* t = static_cast<OsThread*>(p);
  pthread_mutex_lock(&t->mutex);
  t->ended = true;
  pthread_cond_broadcast(&t->cond);
  pthread_mutex_unlock(&t->mutex);
}

void* ThreadMain(void* p) {
  OsThread* t = static_cast<OsThread*>(p);
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_mutex_lock(&t->mutex);
  t->kernelId = static_cast<pid_t>(syscall(SYS_gettid));
  t->idKnown = true;
  pthread_cond_broadcast(&t->cond);
  while (!t->released) pthread_cond_wait(&t->cond, &t->mutex);
  pthread_mutex_unlock(&t->mutex);
  int expected = kCreated;
  if (t->stage.compare_exchange_strong(expected, kEntered)) {
    pthread_cleanup_push(MarkEnded, t);
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &oldState);
    t->entry(t->arg);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
    pthread_cleanup_pop(1);
  } else {
    MarkEnded(t);
  }
  return nullptr;
}

// How long the system's own part of a thread's end may take once its
// entry routine has returned.
constexpr uint32_t kLeaveMs = 2000;

// Keeps the library that holds this code mapped for the rest of the process
// (a no-op for a program's own code).
void KeepLibraryLoaded() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ThreadMain), &info) != 0 && info.dli_fname != nullptr)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

int NiceOf(int priority) {
  if (priority >= 15) return -20;
  if (priority <= -15) return 19;
  return -5 * priority;
}

}  // namespace

OsThread* osThreadCreate(OsThreadEntry entry, void* arg, uint32_t stackSize, bool suspended,
                         uint32_t* threadId) {
  if (ThreadCreationRefused()) {
    errno = EAGAIN;
    return nullptr;
  }
  OsThread* t = new OsThread;
  pthread_condattr_t condAttr;
  pthread_condattr_init(&condAttr);
  pthread_condattr_setclock(&condAttr, CLOCK_MONOTONIC);
  pthread_cond_init(&t->cond, &condAttr);
  pthread_condattr_destroy(&condAttr);
  t->entry = entry;
  t->arg = arg;
  t->released = !suspended;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // Small stacks are raised to what the C library and sanitizers need.
  if (stackSize != 0) pthread_attr_setstacksize(&attr, stackSize < 262144 ? 262144 : stackSize);
  const int rc = pthread_create(&t->thread, &attr, ThreadMain, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    pthread_cond_destroy(&t->cond);
    delete t;
    errno = rc;
    return nullptr;
  }
  pthread_mutex_lock(&t->mutex);
  while (!t->idKnown) pthread_cond_wait(&t->cond, &t->mutex);
  pthread_mutex_unlock(&t->mutex);
  if (threadId != nullptr) *threadId = static_cast<uint32_t>(t->kernelId);
  return t;
}

bool osThreadResume(OsThread* t) {
  if (t == nullptr) return false;
  pthread_mutex_lock(&t->mutex);
  t->released = true;
  pthread_cond_broadcast(&t->cond);
  pthread_mutex_unlock(&t->mutex);
  return true;
}

bool osThreadSuspend(OsThread*) {
  errno = ENOTSUP;
  return false;
}

bool osThreadSetPriority(OsThread* t, int priority) {
  if (t == nullptr) return false;
  // The task's priority is what it was given, whether or not the system
  // applies it: raising a thread's priority needs privileges.
  t->priority = priority;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(t->kernelId), NiceOf(priority)) != 0) {
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
      EchoPrint("thread priorities are kept but not applied here (errno %d)", errno);
  }
  return true;
}

bool osThreadGetPriority(OsThread* t, int* priority) {
  if (t == nullptr) return false;
  *priority = t->priority;
  return true;
}

void osThreadDisableBoost(OsThread*) {}

void osThreadSetDebugName(OsThread* t, const char* name) {
  if (t == nullptr || name == nullptr) return;
  char shortName[16];
  std::strncpy(shortName, name, sizeof shortName - 1);
  shortName[sizeof shortName - 1] = '\0';
  pthread_setname_np(t->thread, shortName);
}

bool osThreadEntered(const OsThread* t) { return t != nullptr && t->stage.load() == kEntered; }

uint32_t osThreadId(const OsThread* t) { return t != nullptr ? static_cast<uint32_t>(t->kernelId) : 0; }

uint32_t osCurrentThreadId() {
  static thread_local uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

bool osThreadJoin(OsThread* t, uint32_t timeoutMs) {
  if (t == nullptr || t->joined) return true;
  const timespec deadline = DeadlineAfter(timeoutMs, CLOCK_MONOTONIC);
  pthread_mutex_lock(&t->mutex);
  int expected = kCreated;
  if (t->stage.compare_exchange_strong(expected, kCancelled)) {
    // It will never run the entry routine: let it through its gate to end.
    t->released = true;
    pthread_cond_broadcast(&t->cond);
    timeoutMs = kOsInfinite;
  }
  while (!t->ended) {
    const int rc = timeoutMs == kOsInfinite ? pthread_cond_wait(&t->cond, &t->mutex)
                                            : pthread_cond_timedwait(&t->cond, &t->mutex, &deadline);
    if (rc == ETIMEDOUT) break;
  }
  const bool ended = t->ended;
  pthread_mutex_unlock(&t->mutex);
  if (!ended) return false;
  // Only the C library's own end of the thread is left: once joined, the
  // thread runs nothing of the library, which may then be unloaded.
  const timespec leave = DeadlineAfter(kLeaveMs, CLOCK_REALTIME);
  t->joined = pthread_timedjoin_np(t->thread, nullptr, &leave) == 0;
  return t->joined;
}

void osThreadTerminate(OsThread* t) {
  if (t == nullptr || t->joined) return;
  pthread_mutex_lock(&t->mutex);
  const bool ended = t->ended;
  pthread_mutex_unlock(&t->mutex);
  if (!ended) pthread_cancel(t->thread);
}

// A cancelled thread unwinds with abi::__forced_unwind, which has no object:
// the null check of the undefined-behaviour sanitizer is off for the
// binding that passes it on.
__attribute__((no_sanitize("null"))) void osPassForcedUnwind() {
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

void osThreadClose(OsThread* t) {
  if (t == nullptr) return;
  if (!t->joined) {
    // A thread that could not be ended keeps its record and the library's
    // code under it for the rest of the process.
    pthread_detach(t->thread);
    KeepLibraryLoaded();
    return;
  }
  pthread_cond_destroy(&t->cond);
  pthread_mutex_destroy(&t->mutex);
  delete t;
}

void OsTaskNameFault() { TVN_ASSERT_FAIL("FALSE", "tvnLib/POSIX/os_ctask.cpp", 108); }

int taskNotSupported(TASK_ID) { TVN_ASSERT_FAIL("FALSE", "tvnLib/POSIX/os_ctask.cpp", 92); }
