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

int MulticastTtlOf(intptr_t s) {
  DWORD ttl = 0;
  int length = sizeof ttl;
  if (getsockopt(static_cast<SOCKET>(s), IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&ttl), &length) != 0)
    return -1;
  return static_cast<int>(ttl & 0xFF);
}
