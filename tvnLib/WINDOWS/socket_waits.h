// Waits on Windows sockets that end when data comes, when the time is up or
// when another thread wakes the socket, and never in between: each socket
// that is waited on for reading gets an event that the system sets when a
// datagram arrives (WSAEventSelect) and an event of its own that
// osSocketWake sets. Win32 files only.
//
// The table of socket states is process-wide, guarded by its own lock; a
// state lives from the socket's first wait or wake to its close, and a
// waiter keeps the state it waits on alive.
#pragma once

#include "win_common.h"

#include <cstdint>

// Marks the socket woken: its waits, present and future, end at once.
void WakeSocket(SOCKET s);
// Forgets the socket's state (its events close when no waiter holds them).
void ForgetSocket(SOCKET s);
bool SocketWoken(SOCKET s);

// Waits until a datagram can be read, up to `timeoutUs` (< 0: no limit):
// 1 readable, 0 time-out, -1 failure or woken (WSAEINTR).
int WaitReadable(SOCKET s, int64_t timeoutUs);
// The same for a caller whose receive just found nothing: no look first,
// and a 1 may stand for a datagram that is gone again (the caller's next
// receive tells).
int WaitForDatagram(SOCKET s, int64_t timeoutUs);
// True once the socket's waits are by event: it is non-blocking since.
bool SocketRegistered(SOCKET s);

// The limit a receive waits when the caller names none (SO_RCVTIMEO, in
// ms; 0: none), as osSetSockOpt set it.
void RememberReceiveTimeout(SOCKET s, int ms);
int ReceiveTimeoutMs(SOCKET s);
