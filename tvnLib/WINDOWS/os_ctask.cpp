// The task layer's threads on Win32: CreateThread suspended then resumed,
// priorities, SuspendThread / TerminateThread, and the debugger-naming
// convention.
//
// A thread record is shared by the thread and its owner (two references).
// The end of a thread is reported through an event that the thread sets as
// the last thing it does, not through its handle: waiting on a thread handle
// inside the library's entry point would dead-lock on the loader lock.
#include "win_common.h"

#include <atomic>

#include "../ctask.h"
#include "../os.h"
#include "../refusals.h"
#include "../tvn_assert.h"

struct OsThread {
  HANDLE handle = nullptr;
  HANDLE done = nullptr;  // manual reset, set when the thread has ended
  OsThreadEntry entry = nullptr;
  void* arg = nullptr;
  std::atomic<int> refs{2};
  std::atomic<bool> threadReleased{false};
};

namespace {

void Release(OsThread* t) {
  if (t->refs.fetch_sub(1) != 1) return;
  if (t->handle != nullptr) CloseHandle(t->handle);
  if (t->done != nullptr) CloseHandle(t->done);
  delete t;
}

// The thread's own reference, dropped once: by the thread at its end, or by
// the owner after a forced termination.
void ReleaseThreadRef(OsThread* t) {
  if (!t->threadReleased.exchange(true)) Release(t);
}

DWORD WINAPI ThreadMain(LPVOID p) {
  OsThread* t = static_cast<OsThread*>(p);
  t->entry(t->arg);
  SetEvent(t->done);
  ReleaseThreadRef(t);
  return 0;
}

// Lets the naming exception continue when the debugger passes it on.
LONG CALLBACK ContinueNamingException(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                             : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

OsThread* osThreadCreate(OsThreadEntry entry, void* arg, uint32_t stackSize, bool suspended,
                         uint32_t* threadId) {
  if (CreationRefused()) {
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
  DWORD id = 0;
  t->handle = CreateThread(nullptr, stackSize, ThreadMain, t, suspended ? CREATE_SUSPENDED : 0, &id);
  if (t->handle == nullptr) {
    const DWORD err = GetLastError();
    CloseHandle(t->done);
    delete t;
    SetLastError(err);
    return nullptr;
  }
  if (threadId != nullptr) *threadId = id;
  return t;
}

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
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto set = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (set != nullptr) {
    wchar_t wide[64];
    int i = 0;
    for (; name[i] != '\0' && i < 63; ++i) wide[i] = static_cast<unsigned char>(name[i]);
    wide[i] = L'\0';
    set(t->handle, wide);
  }
  if (!IsDebuggerPresent()) return;
  // The published convention: a debugger that sees exception 0x406D1388
  // with {0x1000, name, thread id, 0} names the thread.
  ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(name), GetThreadId(t->handle), 0};
  PVOID handler = AddVectoredExceptionHandler(1, ContinueNamingException);
  RaiseException(0x406D1388, 0, 4, info);
  if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
}

bool osThreadWaitEnd(OsThread* t, uint32_t timeoutMs) {
  return t == nullptr || WaitForSingleObject(t->done, timeoutMs) == WAIT_OBJECT_0;
}

void osThreadTerminate(OsThread* t) {
  if (t == nullptr) return;
  if (WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0) return;
  TerminateThread(t->handle, 0);
  WaitForSingleObject(t->handle, 5000);  // termination completes asynchronously
  SetEvent(t->done);
  ReleaseThreadRef(t);
}

// TerminateThread runs no further code on the thread: nothing to pass on.
void osPassForcedUnwind() {}

void osThreadClose(OsThread* t) {
  if (t != nullptr) Release(t);
}

void OsTaskNameFault() { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 108); }

int taskNotSupported(TASK_ID) { TVN_ASSERT_FAIL("FALSE", "tvnLib/WINDOWS/os_ctask.cpp", 92); }
