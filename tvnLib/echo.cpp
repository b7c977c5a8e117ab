#include "echo.h"

#include <cstdio>
#include <cstring>

#include "echo_view.h"
#include "fault_points.h"
#include "sync.h"
#include "ticks.h"

EchoLine EchoRing[kEchoRingSize];
std::atomic<void*> EchoWnd{nullptr};

namespace {

// Lines written since load; the slot of line n is n mod 1024. Changed under
// g_lock, read without it.
std::atomic<uint32_t> g_linesWritten{0};

// The runtime's own lock, which a thread ended by force inside a line does
// not strand (CCRITICAL_SECTION::ReleaseAllOf).
CCRITICAL_SECTION g_lock;
constexpr int kWriterWaitMs = 200;

// The name of the task the calling thread runs, for the line prefix; set by
// the task itself, so that writing a line asks nothing of the task layer
// (whose locks a line must never wait for).
thread_local const char* t_threadName = nullptr;

// Holds g_lock when it could be had in time.
class TimedHold {
 public:
  explicit TimedHold(int waitMs) : m_held(g_lock.TryLockFor(waitMs)) {}
  ~TimedHold() {
    if (m_held) g_lock.Unlock();
  }
  TimedHold(const TimedHold&) = delete;
  TimedHold& operator=(const TimedHold&) = delete;
  bool held() const { return m_held; }

 private:
  bool m_held;
};

struct RingInit {
  RingInit() { EchoReset(); }
} g_ringInit;

}  // namespace

int EchoWriteIndex() {
  return static_cast<int>(g_linesWritten.load(std::memory_order_relaxed) % kEchoRingSize);
}

int EchoWrapped() {
  return g_linesWritten.load(std::memory_order_relaxed) >= static_cast<uint32_t>(kEchoRingSize) ? 1
                                                                                               : 0;
}

void EchoSetThreadName(const char* name) { t_threadName = name; }

void EchoReset() {
  TimedHold hold(kWriterWaitMs * 10);
  for (EchoLine& line : EchoRing) {
    line.colour = kEchoWhite;
    line.text[0] = '\0';
    line.stamp = -1;
  }
  g_linesWritten.store(0);
  EchoView = EchoViewState{};
}

int EchoPrefix(char* text, int width) {
  const uint32_t elapsed = static_cast<uint32_t>(tickNow() - StartTicks);
  const float seconds = static_cast<float>(elapsed) * 0.0033333334f;
  const char* name = t_threadName;
  if (name == nullptr || name[0] == '\0') name = "????";
  int n = std::snprintf(text, kEchoTextSize, "%07.03f %-*.*s: ", static_cast<double>(seconds), width,
                        width, name);
  if (n < 0) n = 0;
  if (n >= kEchoTextSize) n = kEchoTextSize - 1;
  return n;
}

bool EchoLocked(int waitMs, void (*reader)(void*), void* context) {
  TimedHold hold(waitMs);
  if (!hold.held()) return false;
  reader(context);
  return true;
}

void EchoWriteLine(int64_t colour, const char* format, va_list args) {
  TimedHold hold(kWriterWaitMs);
  if (!hold.held()) return;
  const uint32_t claimed = g_linesWritten.fetch_add(1, std::memory_order_relaxed);
  EchoLine& line = EchoRing[claimed % kEchoRingSize];
  if (colour != -1) line.colour = static_cast<uint32_t>(colour);
  line.stamp = tickNow();
  const int prefix = EchoPrefix(line.text, 4);
  std::vsnprintf(line.text + prefix, static_cast<size_t>(kEchoTextSize - prefix), format, args);
  FaultPause(FaultPoint::EchoLineHeld);
  OsEchoLineStored(line);
}

void EchoPrint(const char* format, ...) {
  if (EchoWnd.load(std::memory_order_acquire) == nullptr) return;
  va_list args;
  va_start(args, format);
  EchoWriteLine(kEchoYellow, format, args);
  va_end(args);
}
