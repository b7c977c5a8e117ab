#include "echo.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "echo_view.h"
#include "os_ctask.h"
#include "sync.h"
#include "ticks.h"

EchoLine EchoRing[kEchoRingSize];
std::atomic<void*> EchoWnd{nullptr};

namespace {

// Lines written since load; the slot of line n is n mod 1024. Changed under
// g_lock, read without it.
std::atomic<uint32_t> g_linesWritten{0};

std::mutex g_lock;
constexpr int kWriterWaitMs = 200;

// Takes g_lock within `waitMs`; false when it stays taken that long.
bool LockWithin(int waitMs) {
  if (g_lock.try_lock()) return true;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (int spin = 0;; ++spin) {
    if (g_lock.try_lock()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    if (spin < 50) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

// Holds g_lock when it could be had in time.
class TimedHold {
 public:
  explicit TimedHold(int waitMs) : m_held(LockWithin(waitMs)) {}
  ~TimedHold() {
    if (m_held) g_lock.unlock();
  }
  bool held() const { return m_held; }

 private:
  bool m_held;
};

// Holds the calling task's kill lock. Waits for it in short sleeps, which
// are points where a thread being ended by unwinding (POSIX) can end.
class KillGuard {
 public:
  KillGuard() : m_lock(taskSelfKillLock()) {
    if (m_lock != nullptr)
      while (!m_lock->TryLockFor(50)) {
      }
  }
  ~KillGuard() {
    if (m_lock != nullptr) m_lock->Unlock();
  }
  KillGuard(const KillGuard&) = delete;
  KillGuard& operator=(const KillGuard&) = delete;

 private:
  RESOURCE* m_lock;
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

void EchoReset() {
  std::lock_guard<std::mutex> lock(g_lock);
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
  const char* name = taskSelfName();
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
  // A task is never killed by force while it holds the echo lock: that
  // would strand the lock, and every later line would wait and be lost.
  KillGuard noKill;
  TimedHold hold(kWriterWaitMs);
  if (!hold.held()) return;
  const uint32_t claimed = g_linesWritten.fetch_add(1, std::memory_order_relaxed);
  EchoLine& line = EchoRing[claimed % kEchoRingSize];
  if (colour != -1) line.colour = static_cast<uint32_t>(colour);
  line.stamp = tickNow();
  const int prefix = EchoPrefix(line.text, 4);
  std::vsnprintf(line.text + prefix, static_cast<size_t>(kEchoTextSize - prefix), format, args);
  OsEchoLineStored(line);
}

void EchoPrint(const char* format, ...) {
  if (EchoWnd.load(std::memory_order_acquire) == nullptr) return;
  va_list args;
  va_start(args, format);
  EchoWriteLine(kEchoYellow, format, args);
  va_end(args);
}
