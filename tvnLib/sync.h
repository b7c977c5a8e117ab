// Synchronisation objects of the runtime: kernel-object waits, manual-reset
// events, recursive locks with a depth count, and the scoped guard.
//
// Any thread may call any operation. Results follow the runtime's rule:
// 1 for success, 0 for failure or time-out.
#pragma once

#include <atomic>
#include <cstdint>

#include "os.h"

// Owner of one kernel object handle (null when none); closes it on
// destruction.
class SYNCOBJECT {
 public:
  SYNCOBJECT() = default;
  virtual ~SYNCOBJECT();
  SYNCOBJECT(const SYNCOBJECT&) = delete;
  SYNCOBJECT& operator=(const SYNCOBJECT&) = delete;

  // Milliseconds; -1 waits without limit, 0 polls. 1 when signalled; 0 on
  // time-out, on failure, and at once without a handle.
  virtual int Wait(int32_t timeoutMs);
  // Releases one count of a semaphore; 1 on success.
  virtual int Release();

  OsHandle m_handle = nullptr;
};

// A manual-reset event that also remembers whether it is set. Created reset;
// a failed creation leaves it without handle (waits then fail at once).
class EVENT : public SYNCOBJECT {
 public:
  EVENT();
  ~EVENT() override;

  void Set();    // flag first, then the event
  void Reset();  // event first, then the flag
  int IsSet() const { return m_state.load(std::memory_order_acquire); }
  // False when the system refused the event.
  bool Valid() const { return m_handle != nullptr; }
  int Release() override { return 1; }

  std::atomic<int32_t> m_state{0};
};

// A recursive lock. `who` names the caller and `timeout` is accepted for the
// interface's sake; both are ignored and Lock always waits.
class CCRITICAL_SECTION {
 public:
  CCRITICAL_SECTION();
  virtual ~CCRITICAL_SECTION();
  CCRITICAL_SECTION(const CCRITICAL_SECTION&) = delete;
  CCRITICAL_SECTION& operator=(const CCRITICAL_SECTION&) = delete;

  int Lock(const char* who = nullptr, int32_t timeout = -1);
  // Takes the lock within `waitMs` milliseconds (0: only when free now);
  // false when another thread held it all that time.
  bool TryLockFor(int32_t waitMs);
  void Unlock();
  // False when the system refused the lock.
  bool Valid() const { return m_valid; }
  // Makes the lock new and free, for a lock whose holder was ended by
  // force. REQUIRES: no live thread holds it or waits for it.
  void Reinitialise();

  // Nested Lock calls of the holder not yet matched by Unlock; 0 when free.
  // Meaningful only to the holding thread.
  int32_t Depth() const { return m_depth; }

 private:
  OsLockStorage m_cs;
  int32_t m_depth = 0;
  bool m_valid;
};

// The lockable base class of every shared runtime object.
class RESOURCE : public CCRITICAL_SECTION {
 public:
  ~RESOURCE() override;
};

// Holds a RESOURCE for its own lifetime; a null resource makes a guard that
// does nothing. The resource must outlive the guard.
class RESOURCE_LOCK {
 public:
  RESOURCE_LOCK(RESOURCE* resource, const char* who) : m_resource(resource) {
    if (m_resource != nullptr) m_resource->Lock(who, -1);
  }
  ~RESOURCE_LOCK() {
    if (m_resource != nullptr) m_resource->Unlock();
  }
  RESOURCE_LOCK(const RESOURCE_LOCK&) = delete;
  RESOURCE_LOCK& operator=(const RESOURCE_LOCK&) = delete;

 private:
  RESOURCE* m_resource;
};
