#include "sync.h"

SYNCOBJECT::~SYNCOBJECT() {
  if (m_handle != nullptr) {
    osCloseHandle(m_handle);
    m_handle = nullptr;
  }
}

int SYNCOBJECT::Wait(int32_t timeoutMs) {
  if (m_handle == nullptr) return 0;
  return osWait(m_handle, static_cast<uint32_t>(timeoutMs)) == kOsWaitSignaled ? 1 : 0;
}

int SYNCOBJECT::Release() { return osReleaseSemaphore(m_handle) ? 1 : 0; }

EVENT::EVENT() { m_handle = osEventCreate(true, false); }

EVENT::~EVENT() = default;

void EVENT::Set() {
  m_state.store(1, std::memory_order_release);
  if (m_handle != nullptr) osEventSet(m_handle);
}

void EVENT::Reset() {
  if (m_handle != nullptr) osEventReset(m_handle);
  m_state.store(0, std::memory_order_release);
}

namespace {

// The process's list of locks. Its guard is held for a few instructions
// only (a link, an unlink, a walk at a forced end), never while waiting.
std::atomic_flag g_listGuard = ATOMIC_FLAG_INIT;
CCRITICAL_SECTION* g_firstLock = nullptr;

class ListHold {
 public:
  ListHold() {
    while (g_listGuard.test_and_set(std::memory_order_acquire)) osSleepMs(0);
  }
  ~ListHold() { g_listGuard.clear(std::memory_order_release); }
};

// Holders keep the runtime's locks for microseconds (a decoded packet, the
// host's read of its ports): a waiter first yields the processor a few
// times, then sleeps on the lock's event.
constexpr int kYields = 64;

}  // namespace

CCRITICAL_SECTION::CCRITICAL_SECTION() : m_wake(osEventCreate(false, false)) {
  ListHold hold;
  m_next = g_firstLock;
  if (m_next != nullptr) m_next->m_prev = this;
  g_firstLock = this;
}

CCRITICAL_SECTION::~CCRITICAL_SECTION() {
  {
    ListHold hold;
    if (m_prev != nullptr) m_prev->m_next = m_next; else g_firstLock = m_next;
    if (m_next != nullptr) m_next->m_prev = m_prev;
  }
  if (m_wake != nullptr) osCloseHandle(m_wake);
}

int CCRITICAL_SECTION::Lock(const char*, int32_t) {
  const uint32_t self = osCurrentThreadId();
  if (m_owner.load(std::memory_order_relaxed) == self) {
    ++m_depth;
    return 1;
  }
  Acquire(self, kOsInfinite);
  return 1;
}

bool CCRITICAL_SECTION::TryLockFor(int32_t waitMs) {
  const uint32_t self = osCurrentThreadId();
  if (m_owner.load(std::memory_order_relaxed) == self) {
    ++m_depth;
    return true;
  }
  return Acquire(self, waitMs < 0 ? 0u : static_cast<uint32_t>(waitMs));
}

bool CCRITICAL_SECTION::Acquire(uint32_t self, uint32_t waitMs) {
  const auto take = [&] {
    uint32_t free = 0;
    if (!m_owner.compare_exchange_strong(free, self, std::memory_order_seq_cst)) return false;
    m_depth = 1;
    return true;
  };
  if (take()) return true;
  const uint32_t start = osTickCountMs();
  for (int attempt = 0;; ++attempt) {
    const uint32_t elapsed = osTickCountMs() - start;
    if (waitMs != kOsInfinite && elapsed >= waitMs) return false;
    if (attempt < kYields) {
      osSleepMs(0);
      if (take()) return true;
      continue;
    }
    // Announced before the last look, so that a holder who lets go after
    // it sees the waiter and sets the event (both sequentially consistent).
    struct Waiting {
      explicit Waiting(std::atomic<int32_t>& w) : waiters(w) { waiters.fetch_add(1); }
      ~Waiting() { waiters.fetch_sub(1); }  // also when a cancellation unwinds the wait
      std::atomic<int32_t>& waiters;
    } waiting(m_waiters);
    if (take()) return true;
    const uint32_t left = waitMs == kOsInfinite ? kOsInfinite : waitMs - elapsed;
    if (m_wake == nullptr || osWait(m_wake, left) == kOsWaitFailed) osSleepMs(1);
  }
}

void CCRITICAL_SECTION::Unlock() {
  if (--m_depth > 0) return;
  m_owner.store(0, std::memory_order_seq_cst);
  if (m_waiters.load(std::memory_order_seq_cst) > 0 && m_wake != nullptr) osEventSet(m_wake);
}

int CCRITICAL_SECTION::ReleaseAllOf(uint32_t threadId) {
  if (threadId == 0) return 0;
  int released = 0;
  ListHold hold;
  for (CCRITICAL_SECTION* lock = g_firstLock; lock != nullptr; lock = lock->m_next) {
    if (lock->m_owner.load() != threadId) continue;
    lock->m_depth = 0;
    lock->m_owner.store(0, std::memory_order_seq_cst);
    if (lock->m_wake != nullptr) osEventSet(lock->m_wake);
    ++released;
  }
  return released;
}

RESOURCE::~RESOURCE() = default;
