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
//
// Built on an owner word and an event rather than the platform's critical
// section, so that a lock whose holder was ended by force can be given back
// (ReleaseAllOf): a thread ended that way never strands the runtime's
// locks. Taking a free lock and releasing one without waiters are a few
// atomic operations, without a system call. Every lock of the process is
// in one list for ReleaseAllOf; construction and destruction change it.
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
  // REQUIRES: held by the calling thread.
  void Unlock();
  // False when the system refused the lock's event (the lock still works,
  // waiting in short sleeps).
  bool Valid() const { return m_wake != nullptr; }

  // Nested Lock calls of the holder not yet matched by Unlock; 0 when free.
  // Meaningful only to the holding thread.
  int32_t Depth() const { return m_depth; }
  // The holding thread's id, 0 when free.
  uint32_t Owner() const { return m_owner.load(std::memory_order_relaxed); }

  // Frees every lock of the process still held by thread `threadId`, which
  // was ended by force and runs no more; their waiters go on. Returns how
  // many were held.
  static int ReleaseAllOf(uint32_t threadId);

 private:
  bool Acquire(uint32_t self, uint32_t waitMs);

  std::atomic<uint32_t> m_owner{0};
  int32_t m_depth = 0;
  std::atomic<int32_t> m_waiters{0};
  OsHandle m_wake;  // auto-reset: set when the lock is freed while someone waits
  CCRITICAL_SECTION* m_prev = nullptr;  // the process's list of locks
  CCRITICAL_SECTION* m_next = nullptr;
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
