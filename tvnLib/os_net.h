// The platform contract for IPv4 UDP sockets.
//
// Windows Sockets 2 on Windows, BSD sockets on POSIX. Addresses are always
// 32-bit values in network byte order; socket addresses are the 16-byte
// IPv4 record (family, port in network order, address, 8 zero bytes), which
// both platforms lay out identically. Failures return -1 (or an invalid
// socket) and leave the reason in osNetLastError().
//
// Sockets are blocking on both platforms: osRecvFrom, osRecv and osSendTo
// wait until they can complete, and end at once (failing) when the socket
// is woken (osSocketWake). Windows keeps a socket that has been waited on
// non-blocking underneath (its waits are by event); its calls wait all the
// same, so that the two platforms behave alike.
#pragma once

#include <cstdint>

using OsSocket = intptr_t;
constexpr OsSocket kOsInvalidSocket = -1;

// Starts the socket layer asking for version 2.0. Returns false when it does
// not start; *grantedMajor receives the major version granted.
bool osNetStartup(int* grantedMajor);
// REQUIRES: one successful osNetStartup not yet cleaned up.
void osNetCleanup();

// The calling thread's last socket error (WSAGetLastError / errno), and a
// way to clear it before a call whose failure is to be told from a timeout.
int osNetLastError();
void osNetClearLastError();

// A new IPv4 datagram socket, never 0 (0 means "no socket" to the session
// code), or kOsInvalidSocket.
OsSocket osUdpSocket();

// Ends every wait, receive and send on `s` in other threads at once, and
// every later one too, on both platforms. The socket stays open until
// osSocketClose.
void osSocketWake(OsSocket s);
int osSocketClose(OsSocket s);

// The options the library sets. The platform picks the level, the option
// number and the value's width.
enum class OsSockOpt {
  ReuseAddr,      // SO_REUSEADDR
  Broadcast,      // SO_BROADCAST
  MulticastLoop,  // IP_MULTICAST_LOOP
  MulticastTtl,   // IP_MULTICAST_TTL
  ReceiveBuffer,  // SO_RCVBUF, in bytes
  ReceiveTimeoutMs,  // SO_RCVTIMEO: a blocking receive gives up after this long (0: never)
};
int osSetSockOpt(OsSocket s, OsSockOpt option, int value);     // 0 or -1
int osSetMulticastIf(OsSocket s, uint32_t interfaceAddr);      // 0 or -1
int osMembership(OsSocket s, bool add, uint32_t group, uint32_t interfaceAddr);  // 0 or -1

// Asks the socket to report each datagram's destination address (see
// osRecvFrom) and, where the platform can, to deliver only the groups that
// this socket joined. 0 or -1.
int osReportDestination(OsSocket s);

// Puts the socket into blocking mode (what it is from its creation, and
// stays after any wait). 0 or -1.
int osSetBlocking(OsSocket s);

// REQUIRES: addr points to a 16-byte IPv4 socket address.
int osBind(OsSocket s, const void* addr);

// Waits until `s` is readable (write false) or writable (write true).
// timeoutUs < 0 waits without limit. Returns 1 when ready, 0 on timeout,
// -1 on failure (for instance because another thread closed or woke the
// socket, or the system refused what a wait needs), always with a reason
// other than 0 in osNetLastError(). Any socket number can be waited on
// (POSIX does not use select and its FD_SETSIZE limit).
int osSelect(OsSocket s, bool write, int64_t timeoutUs);

// What the system tells of one received datagram.
struct OsDatagram {
  bool truncated = false;    // it was longer than the buffer, and cut
  uint32_t destination = 0;  // the address it was sent to (osReportDestination set on the socket), else 0
  uint32_t source = 0;       // the sender's address, network order
  uint16_t sourcePort = 0;   // the sender's port, host order
};

// Receives one datagram into buf[0..capacity). Returns its length (at most
// capacity), or -1; *info tells the rest.
int osRecvFrom(OsSocket s, void* buf, int capacity, OsDatagram* info);

// Receives one datagram as osRecvFrom does, waiting for it no longer than
// the socket's receive timeout (OsSockOpt::ReceiveTimeoutMs; none unless
// set). Returns its length, 0 when none came in time, -1 on failure; once
// the socket was woken (osSocketWake) it returns at once, 0 (POSIX) or -1
// (Windows). One system call per datagram on POSIX, a wait and a receive
// being the same call.
// REQUIRES: the socket is in blocking mode.
int osReceive(OsSocket s, void* buf, int capacity, OsDatagram* info);

// Plain receive of up to `capacity` bytes; a longer datagram is cut.
int osRecv(OsSocket s, void* buf, int capacity);

// REQUIRES: addr points to a 16-byte IPv4 socket address.
int osSendTo(OsSocket s, const void* buf, int length, const void* addr);

// The platform's text for an errno value (the C library's strerror).
const char* osErrnoText(int err);
