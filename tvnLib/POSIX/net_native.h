// The POSIX side of the BSD socket calls that both platforms share
// (tvnLib/BSD/). Included by the platform's socket files only.
#pragma once

#include <netinet/in.h>
#include <sys/time.h>
#include <sys/socket.h>

#include "../os_net.h"

using NativeSocket = int;
inline NativeSocket Native(OsSocket s) { return static_cast<int>(s); }

inline int NativeSetOpt(NativeSocket s, int level, int name, const void* value, int length) {
  return setsockopt(s, level, name, value, static_cast<socklen_t>(length));
}

// SO_RCVTIMEO takes a time value here.
inline int NativeSetReceiveTimeout(NativeSocket s, int ms) {
  timeval limit;
  limit.tv_sec = ms / 1000;
  limit.tv_usec = (ms % 1000) * 1000;
  return setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}
