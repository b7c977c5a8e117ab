// The POSIX side of the BSD socket calls that both platforms share
// (tvnLib/BSD/). Included by the platform's socket files only.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include "../os_net.h"

using NativeSocket = int;
inline NativeSocket Native(OsSocket s) { return static_cast<int>(s); }

inline int NativeSetOpt(NativeSocket s, int level, int name, const void* value, int length) {
  return setsockopt(s, level, name, value, static_cast<socklen_t>(length));
}
