// Shared by the Win32 implementation files only: <windows.h> and a scoped
// owner for kernel handles. Never included by shared code.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>

// Closes a kernel handle when it goes out of scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : m_h(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE Get() const { return m_h; }
  void Reset(HANDLE h = nullptr) {
    if (m_h != nullptr && m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    m_h = h;
  }

 private:
  HANDLE m_h;
};
