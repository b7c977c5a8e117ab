#include "../local_port.h"

#include <winsock2.h>

uint16_t LocalPort(OsSocket s) {
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}
