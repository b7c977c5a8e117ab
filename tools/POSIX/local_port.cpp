#include "../local_port.h"

#include <netinet/in.h>
#include <sys/socket.h>

uint16_t LocalPort(OsSocket s) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}
