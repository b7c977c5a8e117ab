#include "../platform.h"

#include <cstdlib>

#include "tvnLib/echo.h"

bool EchoReachesStderr() { return false; }

void EchoToStderrInThisProcess() {
  static char noWindow = 0;  // lines are stored and mirrored, never drawn
  _putenv("PVTRIVANE_ECHO_STDERR=1");
  EchoWnd.store(&noWindow);
}


bool FailSocketWaits() { return false; }

void RestoreSocketWaits() {}

bool RefuseNewDescriptors() { return false; }
void RestoreOpenFiles() {}

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {
// A socket option's value (of its `mask` bits), -1 when it cannot be read.
int OptionOf(intptr_t s, int level, int name, DWORD mask = 0xFFFFFFFF) {
  DWORD value = 0;
  int length = sizeof value;
  const int failed = getsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<char*>(&value), &length);
  return failed != 0 ? -1 : static_cast<int>(value & mask);
}
}  // namespace

int MulticastTtlOf(intptr_t s) { return OptionOf(s, IPPROTO_IP, IP_MULTICAST_TTL, 0xFF); }

int ReceiveBufferOf(intptr_t s) { return OptionOf(s, SOL_SOCKET, SO_RCVBUF); }

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

void EndThisProcessNow(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(INFINITE);
}

double ProcessCpuMs() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

int64_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<int64_t>(counters.WorkingSetSize);
}

int OpenDescriptors() {
  DWORD handles = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &handles)) return -1;
  return static_cast<int>(handles);
}

int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD self = GetCurrentProcessId();
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == self ? 1 : 0;
  CloseHandle(snapshot);
  return count;
}

int RunProgram(const std::string& program, const std::string& arguments, int timeoutMs) {
  std::string line = "\"" + program + "\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return -1;
  DWORD code = static_cast<DWORD>(-2);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  } else if (!GetExitCodeProcess(process.hProcess, &code)) {
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
