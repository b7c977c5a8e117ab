#include "../platform.h"

bool EchoReachesStderr() { return false; }


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
