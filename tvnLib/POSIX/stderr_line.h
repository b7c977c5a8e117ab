// Writes one line to standard error only when it can take it at once: the
// driver's lines must never hold up a thread of the driver or of the host
// (a host whose standard error is a pipe that nobody reads loses them).
// POSIX files only.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <cstddef>

// Writes text[0..n) (a line end included by the caller); false when dropped.
// Ready to write means room for a line at least: a pipe with a free buffer
// takes a write this short whole. Standard error keeps the mode the host
// gave it, blocking or not.
inline bool WriteStderrLineNow(const char* text, size_t n) {
  pollfd out{STDERR_FILENO, POLLOUT, 0};
  if (poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) return false;
  return write(STDERR_FILENO, text, n) == static_cast<ssize_t>(n);
}
