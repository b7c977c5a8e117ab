// The echo on POSIX: there is no window; when the "echo" setting opens the
// echo, every stored line is also written to standard error, when standard
// error can take it at once: a host whose standard error is a pipe that
// nobody reads loses the lines, never a thread. The ring, its prefix, cut
// and wrap are the same as on Windows (echo.cpp).
#include <pthread.h>

#include <atomic>
#include <cstring>

#include "../echo.h"
#include "stderr_line.h"

namespace {
// The "window": a line sink that is open between EchoCreate and EchoDestroy.
std::atomic<bool> g_sinkOpen{false};
char g_sink;
}  // namespace

int EchoCreate(const char*, void*, void*) {
  if (EchoWnd.load() != nullptr) return 0;
  g_sinkOpen = true;
  EchoWnd.store(&g_sink);
  return 1;
}

int EchoShow(int) { return EchoWnd.load() != nullptr ? 1 : 0; }

int EchoMove(int, int, int, int) { return EchoWnd.load() != nullptr ? 1 : 0; }

int EchoDestroy() {
  if (EchoWnd.load() == nullptr) return 0;
  EchoWnd.store(nullptr);
  g_sinkOpen = false;
  return 1;
}

void OsEchoLineStored(const EchoLine& line) {
  if (!g_sinkOpen) return;
  // A task cancelled while it writes must not stop inside the write.
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  char text[kEchoTextSize + 1];
  const size_t n = strnlen(line.text, kEchoTextSize);
  std::memcpy(text, line.text, n);
  text[n] = '\n';
  WriteStderrLineNow(text, n + 1);
  pthread_setcancelstate(oldState, &oldState);
}
