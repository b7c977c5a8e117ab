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
// free the library's memory, and the loader unmap its code, at once. A
// thread begins outside the library (thread_start.h), so that one that has
// not entered it yet can be turned away there instead of being ended.
#include "win_common.h"

#include <atomic>

#include "../ctask.h"
#include "../os.h"
#include "../refusals.h"
#include "../tvn_assert.h"
#include "thread_start.h"

// Owned by the thread that created it (osThreadClose releases it); the
// thread itself reads it only until it has signalled its end.
struct OsThread {
  HANDLE handle = nullptr;
  HANDLE done = nullptr;  // manual reset: the thread runs no code of the library any more
  OsThreadEntry entry = nullptr;
  void* arg = nullptr;
  DWORD id = 0;
  ThreadStart* start = nullptr;  // where the thread begins (null: at ThreadMain directly)
  std::atomic<bool> entered{false};  // set by ThreadMain, for a thread without a start
  bool gone = false;  // owner only: the thread runs no code of the library any more
  bool startKept = false;  // owner only: a cancelled thread may still come to its start
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

// Runs once the thread has entered the library (through its start).
DWORD WINAPI ThreadMain(LPVOID p) {
  OsThread* t = static_cast<OsThread*>(p);
  const HANDLE done = t->done;
  t->entered.store(true);
  t->entry(t->arg);
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
// A terminated thread runs no further code of its own; its handle is
// signalled once the system has finished with it, which a thread that waits
// for the loader lock (held at unload) cannot be until the lock is free.
// So the wait for it is short, and none at all at unload.
constexpr DWORD kTerminationMs = 200;

void EndByForce(OsThread* t) {
  if (TerminateThread(t->handle, 0) != 0 || WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0) {
    WaitForSingleObject(t->handle, osCreatingThreadsStopped() ? 0 : kTerminationMs);
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
  t->start = ThreadStartTake(ThreadMain, t);
  t->handle = t->start != nullptr ? CreateThread(nullptr, stackSize, ThreadStartRoutine(), t->start,
                                                 suspended ? CREATE_SUSPENDED : 0, &t->id)
                                  : CreateThread(nullptr, stackSize, ThreadMain, t, suspended ? CREATE_SUSPENDED : 0, &t->id);
  if (t->handle == nullptr) {
    const DWORD err = GetLastError();
    if (t->start != nullptr) ThreadStartRelease(t->start);
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

bool osThreadEntered(const OsThread* t) {
  if (t == nullptr) return false;
  return t->start != nullptr ? ThreadStartEntered(t->start) : t->entered.load();
}

bool osThreadJoin(OsThread* t, uint32_t timeoutMs) {
  if (t == nullptr || t->gone) return true;
  if (t->start != nullptr && ThreadStartCancel(t->start)) {
    // It will never enter the library: it leaves from its start by itself,
    // now, or (while an unload holds the loader lock) once it can run, for
    // which its start stays. It is never ended by force: it may be waiting
    // for a lock of the system's.
    ResumeThread(t->handle);
    const DWORD wait = osCreatingThreadsStopped() ? 0 : kStoppedStartMs;
    t->startKept = WaitForSingleObject(t->handle, wait) != WAIT_OBJECT_0;
    t->gone = true;
    return true;
  }
  if (WaitForSingleObject(t->done, timeoutMs) != WAIT_OBJECT_0) return false;
  t->gone = true;
  return true;
}

void osThreadTerminate(OsThread* t) {
  if (t == nullptr || t->gone || WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0) return;
  // One that has not entered the library is stopped at its start instead.
  if (t->start != nullptr && !ThreadStartEntered(t->start) && osThreadJoin(t, 0)) return;
  EndByForce(t);
}

// TerminateThread runs no further code on the thread: nothing to pass on.
void osPassForcedUnwind() {}

void osThreadClose(OsThread* t) {
  if (t == nullptr) return;
  if (!t->gone && WaitForSingleObject(t->done, 0) != WAIT_OBJECT_0) return;  // still running: kept
  if (t->start != nullptr && !t->startKept) ThreadStartRelease(t->start);
  CloseHandle(t->handle);
  CloseHandle(t->done);
  delete t;
}

void OsTaskNameFault() { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 108); }

int taskNotSupported(TASK_ID) { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 92); }
