// The task layer's threads on Win32: CreateThread suspended then resumed,
// priorities, SuspendThread / TerminateThread, and the debugger-naming
// convention.
//
// The owner of a thread learns of its end through an event that the thread
// sets as the very last thing it does, never through the thread's handle:
// a thread's handle is signalled only after the system's thread exit, which
// waits for the loader lock, and the library's unload holds that lock. The
// event is set by a call whose return lands in the system's ExitThread, so
// that not one instruction of the library runs after it: the owner may
// free the library's memory, and the loader unmap its code, at once.
#include "win_common.h"

#include <atomic>

#include "../ctask.h"
#include "../os.h"
#include "../refusals.h"
#include "../tvn_assert.h"

namespace {

enum Stage : int { kCreated, kEntered, kCancelled };

}  // namespace

// Owned by the thread that created it (osThreadClose releases it); the
// thread itself reads it only until it has signalled its end.
struct OsThread {
  HANDLE handle = nullptr;
  HANDLE done = nullptr;  // manual reset: the thread runs no code of the library any more
  OsThreadEntry entry = nullptr;
  void* arg = nullptr;
  DWORD id = 0;
  std::atomic<int> stage{kCreated};
  bool gone = false;  // owner only: `done` was seen, or the thread was ended
};

namespace {

// Looked up once, while the library is loaded (the loader's lock is the
// loading thread's own then): a thread must never ask the loader for
// anything, since an unload may hold its lock for good.
using SetEventFn = BOOL(WINAPI*)(HANDLE);
using ExitThreadFn = void(WINAPI*)(DWORD);
using SetDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
struct SystemCalls {
  SystemCalls() {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    setEvent = reinterpret_cast<SetEventFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetEvent")));
    exitThread = reinterpret_cast<ExitThreadFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "ExitThread")));
    setDescription = reinterpret_cast<SetDescriptionFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
  }
  SetEventFn setEvent;
  ExitThreadFn exitThread;
  SetDescriptionFn setDescription;
};
const SystemCalls g_system;

// Sets `done` and ends the thread, with SetEvent returning straight into
// ExitThread: the stack is laid out as if ExitThread had called SetEvent.
[[noreturn]] void SignalEndAndExit(HANDLE done) {
#if defined(__i386__)
  asm volatile(
      "pushl $0\n\t"   // ExitThread's exit code
      "pushl $0\n\t"   // ExitThread's return address: never used
      "pushl %0\n\t"   // SetEvent's handle
      "pushl %1\n\t"   // SetEvent's return address
      "jmp *%2\n\t"
      :
      : "r"(done), "r"(g_system.exitThread), "r"(g_system.setEvent)
      : "memory");
#elif defined(__x86_64__)
  // SetEvent's return pops one slot, so that ExitThread starts with the
  // stack aligned as after a call; both get their 32 bytes of home space.
  asm volatile(
      "andq $-16, %%rsp\n\t"
      "subq $64, %%rsp\n\t"
      "movq %1, (%%rsp)\n\t"
      "movq %0, %%rcx\n\t"
      "jmp *%2\n\t"
      :
      : "r"(done), "r"(g_system.exitThread), "r"(g_system.setEvent)
      : "rcx", "memory");
#else
#error "SignalEndAndExit needs the processor's calling convention"
#endif
  __builtin_unreachable();
}

DWORD WINAPI ThreadMain(LPVOID p) {
  OsThread* t = static_cast<OsThread*>(p);
  const HANDLE done = t->done;
  int expected = kCreated;
  if (t->stage.compare_exchange_strong(expected, kEntered)) t->entry(t->arg);
  SignalEndAndExit(done);
}

// Lets the naming exception continue when the debugger passes it on.
LONG CALLBACK ContinueNamingException(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                             : EXCEPTION_CONTINUE_SEARCH;
}

// How long a thread that was stopped before its entry routine may take to
// run and leave, before it is ended by force (it can never run during an
// unload).
constexpr DWORD kStoppedStartMs = 1000;
constexpr DWORD kTerminationMs = 5000;

void EndByForce(OsThread* t) {
  if (TerminateThread(t->handle, 0) != 0 || WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0) {
    WaitForSingleObject(t->handle, kTerminationMs);  // termination completes asynchronously
    SetEvent(t->done);
    t->gone = true;
  }
}

}  // namespace

OsThread* osThreadCreate(OsThreadEntry entry, void* arg, uint32_t stackSize, bool suspended,
                         uint32_t* threadId) {
  if (ThreadCreationRefused()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  OsThread* t = new OsThread;
  t->entry = entry;
  t->arg = arg;
  t->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (t->done == nullptr) {
    delete t;
    return nullptr;
  }
  t->handle = CreateThread(nullptr, stackSize, ThreadMain, t, suspended ? CREATE_SUSPENDED : 0, &t->id);
  if (t->handle == nullptr) {
    const DWORD err = GetLastError();
    CloseHandle(t->done);
    delete t;
    SetLastError(err);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = t->id;
  return t;
}

uint32_t osThreadId(const OsThread* t) { return t != nullptr ? t->id : 0; }

uint32_t osCurrentThreadId() { return GetCurrentThreadId(); }

bool osThreadResume(OsThread* t) { return t != nullptr && ResumeThread(t->handle) != static_cast<DWORD>(-1); }

bool osThreadSuspend(OsThread* t) {
  return t != nullptr && SuspendThread(t->handle) != static_cast<DWORD>(-1);
}

bool osThreadSetPriority(OsThread* t, int priority) {
  return t != nullptr && SetThreadPriority(t->handle, priority) != 0;
}

bool osThreadGetPriority(OsThread* t, int* priority) {
  if (t == nullptr) return false;
  const int value = GetThreadPriority(t->handle);
  if (value == THREAD_PRIORITY_ERROR_RETURN) return false;
  *priority = value;
  return true;
}

void osThreadDisableBoost(OsThread* t) {
  if (t != nullptr) SetThreadPriorityBoost(t->handle, TRUE);
}

void osThreadSetDebugName(OsThread* t, const char* name) {
  if (t == nullptr || name == nullptr) return;
  if (g_system.setDescription != nullptr) {
    wchar_t wide[64];
    int i = 0;
    for (; name[i] != '\0' && i < 63; ++i) wide[i] = static_cast<unsigned char>(name[i]);
    wide[i] = L'\0';
    g_system.setDescription(t->handle, wide);
  }
  if (!IsDebuggerPresent()) return;
  // The published convention: a debugger that sees exception 0x406D1388
  // with {0x1000, name, thread id, 0} names the thread.
  ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name), t->id, 0};
  PVOID handler = AddVectoredExceptionHandler(1, ContinueNamingException);
  RaiseException(0x406D1388, 0, 4, info);
  if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
}

bool osThreadEntered(const OsThread* t) { return t != nullptr && t->stage.load() == kEntered; }

bool osThreadJoin(OsThread* t, uint32_t timeoutMs) {
  if (t == nullptr || t->gone) return true;
  int expected = kCreated;
  if (t->stage.compare_exchange_strong(expected, kCancelled)) {
    // It will never run the entry routine. Where it cannot run at all (its
    // start waits for the loader lock of an unload) it is ended now: it has
    // not run one instruction of the library.
    const DWORD wait = osCreatingThreadsStopped() ? 0 : kStoppedStartMs;
    ResumeThread(t->handle);
    if (WaitForSingleObject(t->done, wait) != WAIT_OBJECT_0) EndByForce(t);
    t->gone = true;
    return true;
  }
  if (WaitForSingleObject(t->done, timeoutMs) != WAIT_OBJECT_0) return false;
  t->gone = true;
  return true;
}

void osThreadTerminate(OsThread* t) {
  if (t == nullptr || t->gone || WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0) return;
  EndByForce(t);
}

// TerminateThread runs no further code on the thread: nothing to pass on.
void osPassForcedUnwind() {}

void osThreadClose(OsThread* t) {
  if (t == nullptr) return;
  if (!t->gone && WaitForSingleObject(t->done, 0) != WAIT_OBJECT_0) return;  // still running: kept
  CloseHandle(t->handle);
  CloseHandle(t->done);
  delete t;
}

void OsTaskNameFault() { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 108); }

int taskNotSupported(TASK_ID) { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 92); }
