// Win32 implementation of the process, time, thread-local, event,
// memory, library and interrupt parts of the platform contract (os.h).
#include "win_common.h"

#include <cstdio>

#include "../os.h"
#include "../refusals.h"

uint32_t osTickCountMs() { return GetTickCount(); }

void osSleepMs(int32_t ms) { Sleep(ms < 0 ? INFINITE : static_cast<DWORD>(ms)); }

void osExitProcess(int code) { ExitProcess(static_cast<UINT>(code)); }

void osMessageBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

uint32_t osLastError() { return GetLastError(); }
void osClearLastError() { SetLastError(0); }

void* osHostInstance() { return GetModuleHandleA(nullptr); }
void* osLogoIcon() { return LoadIconA(nullptr, MAKEINTRESOURCEA(32517)); }  // IDI_WINLOGO

uint32_t osTlsAlloc() { return TlsAlloc(); }
void osTlsFree(uint32_t index) { TlsFree(index); }
void osTlsSet(uint32_t index, void* value) { TlsSetValue(index, value); }
void* osTlsGet(uint32_t index) { return TlsGetValue(index); }

OsHandle osEventCreate(bool manualReset, bool initiallySet) {
  if (CreationRefused()) return nullptr;
  return CreateEventA(nullptr, manualReset, initiallySet, nullptr);
}
bool osEventSet(OsHandle event) { return SetEvent(event) != 0; }
bool osEventReset(OsHandle event) { return ResetEvent(event) != 0; }

OsWaitResult osWait(OsHandle handle, uint32_t timeoutMs) {
  if (handle == nullptr) return kOsWaitFailed;
  switch (WaitForSingleObject(handle, timeoutMs)) {
    case WAIT_OBJECT_0:
      return kOsWaitSignaled;
    case WAIT_TIMEOUT:
      return kOsWaitTimeout;
    default:
      return kOsWaitFailed;
  }
}

bool osReleaseSemaphore(OsHandle handle) {
  return handle != nullptr && ReleaseSemaphore(handle, 1, nullptr) != 0;
}

void osCloseHandle(OsHandle handle) { CloseHandle(handle); }

bool osMemoryReadable(const void* p, size_t n) {
  if (n == 0) return true;
  if (p == nullptr) return false;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
  const uintptr_t end = begin + n;
  if (end < begin) return false;
  const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  uintptr_t at = begin;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & readable) == 0 ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
      return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

OsLibrary osLibraryOpen(const char* path) { return LoadLibraryA(path); }
void* osLibrarySymbol(OsLibrary lib, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
void osLibraryClose(OsLibrary lib) { FreeLibrary(static_cast<HMODULE>(lib)); }

const char* osLibraryError() {
  static char text[256];
  const DWORD err = GetLastError();
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                     sizeof text, nullptr) == 0)
    std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(err));
  return text;
}

namespace {
void (*g_interruptHandler)() = nullptr;
BOOL WINAPI ConsoleHandler(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interruptHandler != nullptr) g_interruptHandler();
  return TRUE;
}
}  // namespace

void osOnInterrupt(void (*handler)()) {
  g_interruptHandler = handler;
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

void osOnUserSignal(void (*)()) {}

void osSetEnvironment(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

bool osGetEnvironment(const char* name, char* out, size_t capacity) {
  const DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(capacity));
  return n > 0 && n < capacity;
}

bool osRegistryIsFile() { return false; }

void osRegistryLocation(char* out, size_t capacity, bool* exists) {
  std::snprintf(out, capacity, "%s", "the Windows registry");
  *exists = true;
}

void osPumpMessages(uint32_t ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}
