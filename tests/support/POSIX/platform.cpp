#include "../platform.h"

#include "tvnLib/echo.h"

bool EchoReachesStderr() { return true; }

void EchoToStderrInThisProcess() { EchoCreate("test", nullptr, nullptr); }

#include <fcntl.h>
#include <unistd.h>
#include <sys/resource.h>

namespace {
rlimit g_savedLimit;
}  // namespace

bool RefuseNewDescriptors() {
  if (getrlimit(RLIMIT_NOFILE, &g_savedLimit) != 0) return false;
  // The lowest free descriptor becomes the limit: no new one can be had.
  const int probe = open("/dev/null", O_RDONLY);
  if (probe < 0) return false;
  close(probe);
  rlimit tight = g_savedLimit;
  tight.rlim_cur = static_cast<rlim_t>(probe);
  return setrlimit(RLIMIT_NOFILE, &tight) == 0;
}

void RestoreOpenFiles() { setrlimit(RLIMIT_NOFILE, &g_savedLimit); }

bool FailSocketWaits() {
  if (getrlimit(RLIMIT_NOFILE, &g_savedLimit) != 0) return false;
  rlimit none = g_savedLimit;
  none.rlim_cur = 0;
  return setrlimit(RLIMIT_NOFILE, &none) == 0;
}

void RestoreSocketWaits() { RestoreOpenFiles(); }

#include <netinet/in.h>
#include <sys/socket.h>

int MulticastTtlOf(intptr_t s) {
  unsigned char ttl = 0;
  socklen_t length = sizeof ttl;
  if (getsockopt(static_cast<int>(s), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &length) != 0) return -1;
  return ttl;
}
