// The socket part of the platform contract on BSD sockets.
//
// A socket bound to the wildcard address on Linux hears, by default, every
// group that any socket of the machine joined on its port (IP_MULTICAST_ALL).
// osReportDestination turns that off and asks for each datagram's
// destination (IP_PKTINFO), which osRecvFrom hands to the caller.
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "../os_net.h"

#ifndef IP_MULTICAST_ALL
#define IP_MULTICAST_ALL 49
#endif

static_assert(sizeof(sockaddr_in) == 16, "the IPv4 socket address is 16 bytes");

namespace {
int Fd(OsSocket s) { return static_cast<int>(s); }
}  // namespace

bool osNetStartup(int* grantedMajor) {
  *grantedMajor = 2;
  return true;
}

void osNetCleanup() {}

int osNetLastError() { return errno; }
void osNetClearLastError() { errno = 0; }

OsSocket osUdpSocket() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd == 0) {  // 0 means "no socket" to the session code: move it
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    fd = moved;
  }
  return fd < 0 ? kOsInvalidSocket : static_cast<OsSocket>(fd);
}

void osSocketWake(OsSocket s) { shutdown(Fd(s), SHUT_RDWR); }

int osSocketClose(OsSocket s) { return close(Fd(s)) == 0 ? 0 : -1; }

int osReportDestination(OsSocket s) {
  const int off = 0;
  const int on = 1;
  setsockopt(Fd(s), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);  // Linux only; else harmless
  return setsockopt(Fd(s), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0 ? 0 : -1;
}

int osSetBlocking(OsSocket s) {
  const int flags = fcntl(Fd(s), F_GETFL);
  if (flags < 0) return -1;
  return fcntl(Fd(s), F_SETFL, flags & ~O_NONBLOCK) == 0 ? 0 : -1;
}

int osSelect(OsSocket s, bool write, int64_t timeoutUs) {
  pollfd entry{Fd(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  // poll's own limit is whole milliseconds: round up, so that a short wait
  // never becomes a poll that returns at once.
  const int limitMs =
      timeoutUs < 0 ? -1 : static_cast<int>(std::min<int64_t>((timeoutUs + 999) / 1000, INT32_MAX));
  int result;
  do {
    result = poll(&entry, 1, limitMs);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return -1;
  if (result == 0) return 0;
  if ((entry.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  // A woken (shut down) or failed socket counts as ready: the following
  // receive or send reports what happened.
  return 1;
}

namespace {

// One recvmsg with the destination address (IP_PKTINFO) read off it.
int RecvMsg(int fd, void* buf, int capacity, int flags, OsDatagram* info) {
  *info = OsDatagram{};
  sockaddr_in from;
  iovec data{buf, static_cast<size_t>(capacity)};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr msg;
  std::memset(&msg, 0, sizeof msg);
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &data;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &msg, flags);
  if (n < 0) return -1;
  if ((msg.msg_flags & MSG_TRUNC) != 0) info->truncated = true;
  info->source = from.sin_addr.s_addr;
  info->sourcePort = ntohs(from.sin_port);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo pktinfo;
      std::memcpy(&pktinfo, CMSG_DATA(c), sizeof pktinfo);
      info->destination = pktinfo.ipi_addr.s_addr;
    }
  }
  return static_cast<int>(n);
}

}  // namespace

int osRecvFrom(OsSocket s, void* buf, int capacity, OsDatagram* info) { return RecvMsg(Fd(s), buf, capacity, 0, info); }

int osReceive(OsSocket s, void* buf, int capacity, OsDatagram* info) {
  // Blocking, with the socket's own time limit: the kernel's plain timer,
  // where a poll first would arm a high-resolution one for every datagram.
  const int n = RecvMsg(Fd(s), buf, capacity, 0, info);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n;
}

int osRecv(OsSocket s, void* buf, int capacity) {
  const ssize_t n = recv(Fd(s), buf, static_cast<size_t>(capacity), 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

int osSendTo(OsSocket s, const void* buf, int length, const void* addr) {
  const ssize_t n = sendto(Fd(s), buf, static_cast<size_t>(length), MSG_NOSIGNAL,
                           static_cast<const sockaddr*>(addr), sizeof(sockaddr_in));
  return n < 0 ? -1 : static_cast<int>(n);
}

const char* osErrnoText(int err) { return std::strerror(err); }
