/* Preloaded into the 32-bit test programs that run under qemu-i386 (user
 * mode), whose system-call layer (Debian's 7.2) does not pass the option
 * IP_MULTICAST_IF on: it refuses it. The tests only ever send multicast on
 * loopback, so the shim turns "multicast on 127.0.0.1" into "this socket's
 * traffic on lo" (SO_BINDTODEVICE, which the emulator does pass on), and
 * "multicast on any interface" into "no device binding". Every other option
 * goes to the real call unchanged. Test environment only: never part of the
 * product. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

typedef int (*setsockopt_fn)(int, int, int, const void*, socklen_t);

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
  static setsockopt_fn real = 0;
  if (real == 0) real = (setsockopt_fn)dlsym(RTLD_NEXT, "setsockopt");
  if (level == IPPROTO_IP && name == IP_MULTICAST_IF && length >= (socklen_t)sizeof(struct in_addr)) {
    struct in_addr address;
    memcpy(&address, value, sizeof address);
    if (address.s_addr == htonl(INADDR_LOOPBACK)) return real(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3);
    if (address.s_addr == htonl(INADDR_ANY)) return real(fd, SOL_SOCKET, SO_BINDTODEVICE, "", 0);
    errno = EADDRNOTAVAIL; /* not an interface that tests may use */
    return -1;
  }
  return real(fd, level, name, value, length);
}
