// What a test can expect of the platform it runs on.
#pragma once

#include <cstdint>
#include <string>

// True where the echo, once created, writes each line to standard error
// (POSIX); false where it is a window (Windows).
bool EchoReachesStderr();

// In a death test's child: every echo line from here on reaches standard
// error, where the parent reads it (POSIX: the echo's line sink; Windows:
// the echo's mirror, PVTRIVANE_ECHO_STDERR, without a window, which would
// need a display).
void EchoToStderrInThisProcess();

// The expected output of a death test (the same text on every platform).
inline std::string OnStderr(const std::string& text) { return text; }

// Makes every socket wait in the process fail at once until
// RestoreSocketWaits (POSIX: the descriptor limit drops to 0, so that every
// poll fails with EINVAL while the sockets stay untouched). False where that
// cannot be done without closing a socket under its waiter (Windows).
bool FailSocketWaits();
void RestoreSocketWaits();

// Lets the process open no further files or sockets until RestoreOpenFiles
// (POSIX, through its descriptor limit); false where that cannot be done.
bool RefuseNewDescriptors();
void RestoreOpenFiles();

// The multicast time-to-live set on socket `s`, and its receive buffer in
// bytes; -1 when they cannot be read.
int MulticastTtlOf(intptr_t s);
int ReceiveBufferOf(intptr_t s);

// Ends this process at once with `code`, whatever its other threads hold
// (Windows: even the loader lock, which the ordinary exit needs).
[[noreturn]] void EndThisProcessNow(int code);

// Processor time this process has used, in milliseconds.
double ProcessCpuMs();

// The process's resident memory in bytes and its open descriptors (POSIX)
// or handles (Windows); -1 when they cannot be read.
int64_t ResidentBytes();
int OpenDescriptors();
// The threads of this process; -1 when they cannot be counted.
int ThreadCount();

// Runs `program` with `arguments` and waits up to `timeoutMs` for it: its
// exit code, -2 when it had to be killed after the time, -1 when it could
// not be started.
int RunProgram(const std::string& program, const std::string& arguments, int timeoutMs);
