// POSIX implementation of the process, time, thread-local, event,
// memory, library and interrupt parts of the platform contract (os.h).
#include <dlfcn.h>
#include <fcntl.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "../os.h"
#include "../refusals.h"
#include "deadline.h"
#include "stderr_line.h"

uint32_t osTickCountMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void osSleepMs(int32_t ms) {
  if (ms < 0) {
    for (;;) pause();
  }
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec request{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

// Nothing is flushed: a stream that cannot take its data (a pipe nobody
// reads) would keep the process from ending.
void osExitProcess(int code) { _exit(code); }

void osMessageBox(const char* text, const char* caption) {
  char line[1024];
  const int n = std::snprintf(line, sizeof line, "%s: %s\n", caption, text);
  if (n > 0) WriteStderrLineNow(line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

uint32_t osLastError() { return static_cast<uint32_t>(errno); }
void osClearLastError() { errno = 0; }

void* osHostInstance() { return nullptr; }
void* osLogoIcon() { return nullptr; }

uint32_t osTlsAlloc() {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return kOsTlsInvalid;
  return static_cast<uint32_t>(key);
}
void osTlsFree(uint32_t index) { pthread_key_delete(static_cast<pthread_key_t>(index)); }
void osTlsSet(uint32_t index, void* value) { pthread_setspecific(static_cast<pthread_key_t>(index), value); }
void* osTlsGet(uint32_t index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }

namespace {

// An event on a mutex and a condition variable (monotonic clock).
struct PosixEvent {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool manual;
  bool set;
};

PosixEvent* EventOf(OsHandle h) { return static_cast<PosixEvent*>(h); }

}  // namespace

OsHandle osEventCreate(bool manualReset, bool initiallySet) {
  if (CreationRefused()) return nullptr;
  PosixEvent* e = new (std::nothrow) PosixEvent;
  if (e == nullptr) return nullptr;
  pthread_mutex_init(&e->mutex, nullptr);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&e->cond, &attr);
  pthread_condattr_destroy(&attr);
  e->manual = manualReset;
  e->set = initiallySet;
  return e;
}

bool osEventSet(OsHandle h) {
  PosixEvent* e = EventOf(h);
  pthread_mutex_lock(&e->mutex);
  e->set = true;
  pthread_cond_broadcast(&e->cond);
  pthread_mutex_unlock(&e->mutex);
  return true;
}

bool osEventReset(OsHandle h) {
  PosixEvent* e = EventOf(h);
  pthread_mutex_lock(&e->mutex);
  e->set = false;
  pthread_mutex_unlock(&e->mutex);
  return true;
}

namespace {
void UnlockMutex(void* m) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m)); }
}  // namespace

OsWaitResult osWait(OsHandle h, uint32_t timeoutMs) {
  if (h == nullptr) return kOsWaitFailed;
  PosixEvent* e = EventOf(h);
  const timespec deadline = DeadlineAfter(timeoutMs, CLOCK_MONOTONIC);
  OsWaitResult result = kOsWaitSignaled;
  pthread_mutex_lock(&e->mutex);
  // A task thread cancelled while it waits here must not keep the mutex.
  pthread_cleanup_push(UnlockMutex, &e->mutex);
  while (!e->set) {
    if (timeoutMs == 0) {
      result = kOsWaitTimeout;
      break;
    }
    const int rc = timeoutMs == kOsInfinite ? pthread_cond_wait(&e->cond, &e->mutex)
                                            : pthread_cond_timedwait(&e->cond, &e->mutex, &deadline);
    if (rc == ETIMEDOUT && !e->set) {
      result = kOsWaitTimeout;
      break;
    }
  }
  if (result == kOsWaitSignaled && !e->manual) e->set = false;
  pthread_cleanup_pop(1);
  return result;
}

bool osReleaseSemaphore(OsHandle) {
  errno = EINVAL;
  return false;
}

void osCloseHandle(OsHandle h) {
  PosixEvent* e = EventOf(h);
  if (e == nullptr) return;
  pthread_cond_destroy(&e->cond);
  pthread_mutex_destroy(&e->mutex);
  delete e;
}

// Reads one byte of every page of the range through the kernel, which
// reports an unreadable address as an error instead of a fault. The calls
// go to the kernel directly: a memory checker's wrapper of write() would
// treat the probe itself as an overrun of the host's buffer.
bool osMemoryReadable(const void* p, size_t n) {
  if (n == 0) return true;
  if (p == nullptr) return false;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t last = begin + n - 1;
  if (last < begin) return false;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  static int probe[2] = {-1, -1};
  static pthread_mutex_t probeLock = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_lock(&probeLock);
  if (probe[0] < 0 && pipe2(probe, O_CLOEXEC) != 0) {
    pthread_mutex_unlock(&probeLock);
    return false;
  }
  bool ok = true;
  for (uintptr_t at = begin;; at = (at & ~(page - 1)) + page) {
    char byte;
    if (syscall(SYS_write, probe[1], reinterpret_cast<const void*>(at), 1) != 1 ||
        syscall(SYS_read, probe[0], &byte, 1) != 1) {
      ok = false;
      break;
    }
    if ((at & ~(page - 1)) >= (last & ~(page - 1))) break;
  }
  pthread_mutex_unlock(&probeLock);
  return ok;
}

OsLibrary osLibraryOpen(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* osLibrarySymbol(OsLibrary lib, const char* name) { return dlsym(lib, name); }
void osLibraryClose(OsLibrary lib) { dlclose(lib); }
const char* osLibraryError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

namespace {
void (*g_interruptHandler)() = nullptr;
void (*g_userHandler)() = nullptr;
void OnSignal(int) {
  if (g_interruptHandler != nullptr) g_interruptHandler();
}
void OnUserSignal(int) {
  if (g_userHandler != nullptr) g_userHandler();
}
void Catch(int signal, void (*handler)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigaction(signal, &action, nullptr);
}
}  // namespace

// The handlers run in signal context: they must only set a flag.
void osOnInterrupt(void (*handler)()) {
  g_interruptHandler = handler;
  Catch(SIGINT, OnSignal);
  Catch(SIGTERM, OnSignal);
}

void osOnUserSignal(void (*handler)()) {
  g_userHandler = handler;
  Catch(SIGUSR1, OnUserSignal);
}

void osSetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }

bool osGetEnvironment(const char* name, char* out, size_t capacity) {
  const char* value = std::getenv(name);
  if (value == nullptr || std::strlen(value) >= capacity) return false;
  std::strcpy(out, value);
  return true;
}

bool osRegistryIsFile() { return true; }

void osPumpMessages(uint32_t ms) { osSleepMs(static_cast<int32_t>(ms)); }
