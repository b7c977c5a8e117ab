// The socket part of the platform contract on Windows Sockets 2.
//
// Every datagram is read with WSARecvMsg where the system offers it, so
// that the destination address (IP_PKTINFO) is known: a socket bound to the
// wildcard address also hears groups that other sockets joined. Waits for
// reading are by event (socket_waits.h): they end when data comes, when the
// time is up or when osSocketWake is called, and cost nothing in between.
#include "win_common.h"
#include "socket_waits.h"

#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "../os_net.h"

namespace {

SOCKET Sock(OsSocket s) { return static_cast<SOCKET>(s); }

std::atomic<LPFN_WSARECVMSG> g_recvMsg{nullptr};

LPFN_WSARECVMSG RecvMsgOf(SOCKET s) {
  LPFN_WSARECVMSG fn = g_recvMsg.load();
  if (fn != nullptr) return fn;
  GUID guid = WSAID_WSARECVMSG;
  DWORD bytes = 0;
  if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &fn, sizeof fn, &bytes,
               nullptr, nullptr) != 0)
    return nullptr;
  g_recvMsg.store(fn);
  return fn;
}

// Writability waits (a datagram socket is writable at once but for a full
// send buffer) look for a wake between slices of this length.
constexpr int64_t kSliceUs = 50000;

int SelectOnce(SOCKET s, bool write, int64_t timeoutUs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv;
  tv.tv_sec = static_cast<long>(timeoutUs / 1000000);
  tv.tv_usec = static_cast<long>(timeoutUs % 1000000);
  const int result = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv);
  if (result == SOCKET_ERROR) return -1;
  return FD_ISSET(s, &set) ? 1 : 0;
}

}  // namespace

bool osNetStartup(int* grantedMajor) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
  *grantedMajor = LOBYTE(data.wVersion);
  return true;
}

void osNetCleanup() { WSACleanup(); }

int osNetLastError() { return WSAGetLastError(); }
void osNetClearLastError() { WSASetLastError(0); }

OsSocket osUdpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? kOsInvalidSocket : static_cast<OsSocket>(s);
}

void osSocketWake(OsSocket s) { WakeSocket(Sock(s)); }

int osSocketClose(OsSocket s) {
  ForgetSocket(Sock(s));
  return closesocket(Sock(s)) == 0 ? 0 : -1;
}

int osReportDestination(OsSocket s) {
  const DWORD on = 1;
  if (setsockopt(Sock(s), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) != 0)
    return -1;
  RecvMsgOf(Sock(s));
  return 0;
}

// A socket whose waits are by event cannot be made blocking again; its
// calls wait by themselves (see CallBlocking), so it counts as blocking.
int osSetBlocking(OsSocket s) {
  if (SocketRegistered(Sock(s))) return 0;
  u_long nonBlocking = 0;
  return ioctlsocket(Sock(s), FIONBIO, &nonBlocking) == 0 ? 0 : -1;
}

int osSelect(OsSocket s, bool write, int64_t timeoutUs) {
  if (!write) return WaitReadable(Sock(s), timeoutUs);
  int64_t left = timeoutUs;
  for (;;) {
    if (SocketWoken(Sock(s))) {
      WSASetLastError(WSAEINTR);
      return -1;
    }
    const int64_t slice = timeoutUs < 0 ? kSliceUs : std::min(left, kSliceUs);
    const int result = SelectOnce(Sock(s), write, slice);
    if (result != 0) return result;
    if (timeoutUs >= 0) {
      left -= slice;
      if (left <= 0) return 0;
    }
  }
}

namespace {

// One receive, whatever the socket's mode: -1 with WSAEWOULDBLOCK when a
// non-blocking socket has nothing.
int RecvFromNow(OsSocket s, void* buf, int capacity, OsDatagram* info) {
  *info = OsDatagram{};
  sockaddr_in from;
  std::memset(&from, 0, sizeof from);
  const auto tellSender = [&] {
    info->source = from.sin_addr.s_addr;
    info->sourcePort = ntohs(from.sin_port);
  };
  LPFN_WSARECVMSG recvMsg = g_recvMsg.load();
  if (recvMsg == nullptr) {
    int fromLen = sizeof from;
    const int n = recvfrom(Sock(s), static_cast<char*>(buf), capacity, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAEMSGSIZE) return -1;
      info->truncated = true;
      tellSender();
      return capacity;
    }
    tellSender();
    return n;
  }
  char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
  WSABUF data{static_cast<ULONG>(capacity), static_cast<char*>(buf)};
  WSAMSG msg;
  std::memset(&msg, 0, sizeof msg);
  msg.name = reinterpret_cast<sockaddr*>(&from);
  msg.namelen = sizeof from;
  msg.lpBuffers = &data;
  msg.dwBufferCount = 1;
  msg.Control.buf = control;
  msg.Control.len = sizeof control;
  DWORD received = 0;
  if (recvMsg(Sock(s), &msg, &received, nullptr, nullptr) == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    info->truncated = true;
    received = static_cast<DWORD>(capacity);
  }
  if ((msg.dwFlags & MSG_TRUNC) != 0) info->truncated = true;
  tellSender();
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr; c = WSA_CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      IN_PKTINFO pktinfo;
      std::memcpy(&pktinfo, WSA_CMSG_DATA(c), sizeof pktinfo);
      info->destination = pktinfo.ipi_addr.s_addr;
    }
  }
  return static_cast<int>(received);
}

// Runs `call` as a blocking socket would: a socket left non-blocking by its
// event waits is waited on (for reading or writing) and the call repeated,
// until it completes, fails otherwise, or the socket is woken.
template <typename Call>
int CallBlocking(SOCKET s, bool write, Call call) {
  for (;;) {
    const int n = call();
    if (n >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) return n;
    const int ready = write ? osSelect(static_cast<OsSocket>(s), true, -1) : WaitForDatagram(s, -1);
    if (ready < 0) return -1;
  }
}

}  // namespace

int osRecvFrom(OsSocket s, void* buf, int capacity, OsDatagram* info) {
  return CallBlocking(Sock(s), false, [&] { return RecvFromNow(s, buf, capacity, info); });
}

int osReceive(OsSocket s, void* buf, int capacity, OsDatagram* info) {
  // Once waits are by event the socket is non-blocking: a datagram already
  // queued is taken in one call, and a receive that finds none waits for
  // the event (the receive timeout set on the socket, 0: none).
  const SOCKET sock = Sock(s);
  const int timeoutMs = ReceiveTimeoutMs(sock);
  const int64_t timeoutUs = timeoutMs == 0 ? -1 : static_cast<int64_t>(timeoutMs) * 1000;
  if (!SocketRegistered(sock)) {
    const int ready = WaitReadable(sock, timeoutUs);  // registers the socket
    if (ready <= 0) return ready;
  }
  for (;;) {
    const int n = RecvFromNow(s, buf, capacity, info);
    if (n >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) return n;
    const int ready = WaitForDatagram(sock, timeoutUs);
    if (ready <= 0) return ready;
  }
}

int osRecv(OsSocket s, void* buf, int capacity) {
  return CallBlocking(Sock(s), false, [&] {
    const int n = recv(Sock(s), static_cast<char*>(buf), capacity, 0);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEMSGSIZE ? capacity : -1;
    return n;
  });
}

int osSendTo(OsSocket s, const void* buf, int length, const void* addr) {
  return CallBlocking(Sock(s), true, [&] {
    const int n = sendto(Sock(s), static_cast<const char*>(buf), length, 0, static_cast<const sockaddr*>(addr),
                         sizeof(sockaddr_in));
    return n == SOCKET_ERROR ? -1 : n;
  });
}

const char* osErrnoText(int err) { return std::strerror(err); }
