// The Windows Sockets side of the BSD socket calls that both platforms
// share (tvnLib/BSD/). Included by the platform's socket files only.
#pragma once

#include "win_common.h"

#include <ws2tcpip.h>

#include "../os_net.h"

using NativeSocket = SOCKET;
inline NativeSocket Native(OsSocket s) { return static_cast<SOCKET>(s); }

// setsockopt with its Windows argument types; option values are DWORDs,
// the same width as int.
inline int NativeSetOpt(NativeSocket s, int level, int name, const void* value, int length) {
  return setsockopt(s, level, name, static_cast<const char*>(value), length);
}

// SO_RCVTIMEO takes milliseconds as a DWORD here; the limit is also kept
// for the receives that wait by event (socket_waits.h).
void RememberReceiveTimeout(SOCKET s, int ms);
inline int NativeSetReceiveTimeout(NativeSocket s, int ms) {
  const DWORD limit = static_cast<DWORD>(ms);
  if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit) != 0) return -1;
  RememberReceiveTimeout(s, ms);
  return 0;
}
