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

CCRITICAL_SECTION::CCRITICAL_SECTION() : m_valid(osLockInit(&m_cs)) {}

CCRITICAL_SECTION::~CCRITICAL_SECTION() { osLockDestroy(&m_cs); }

int CCRITICAL_SECTION::Lock(const char*, int32_t) {
  osLockEnter(&m_cs);
  ++m_depth;
  return 1;
}

bool CCRITICAL_SECTION::TryLockFor(int32_t waitMs) {
  // Holders keep the lock for microseconds (a decoded packet, the host's
  // read of its ports): the first tries only yield the processor, so that a
  // short hold costs no millisecond's sleep. A long one is waited out in
  // sleeps.
  constexpr int kYields = 64;
  if (osLockTryEnter(&m_cs)) {  // the common case, without reading the clock
    ++m_depth;
    return true;
  }
  const uint32_t start = osTickCountMs();
  for (int attempt = 0;; ++attempt) {
    if (static_cast<int32_t>(osTickCountMs() - start) >= waitMs) return false;
    osSleepMs(attempt < kYields ? 0 : 1);
    if (osLockTryEnter(&m_cs)) {
      ++m_depth;
      return true;
    }
  }
}

void CCRITICAL_SECTION::Reinitialise() {
  osLockDestroy(&m_cs);
  m_valid = osLockInit(&m_cs);
  m_depth = 0;
}

void CCRITICAL_SECTION::Unlock() {
  --m_depth;
  osLockLeave(&m_cs);
}

RESOURCE::~RESOURCE() = default;
