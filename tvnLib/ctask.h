// The task object: a named thread with a state machine, a stop request, a
// forced kill after a grace time, and the entry routine START that runs the
// virtual Init, Run and Exit of a derived class under exception guards.
//
// The thread that owns a task object constructs it and calls Start, Stop,
// WaitEnd and the destructor; the task's own thread runs START and so Init,
// Run and Exit. Every task object is in the process-wide list pAllTasks.
//
// Lock order: the task's thread takes m_runLock, and m_killLock inside it;
// Stop takes only m_killLock, WaitEnd only m_runLock.
#pragma once

#include <atomic>
#include <cstdint>

#include "bounded_string.h"
#include "flist.h"
#include "os_ctask.h"
#include "sync.h"

class CTASK;

// The list of all task objects, guarded by its own lock. Created with the
// first task object and destroyed with the last.
class CTASKLIST : public RESOURCE {
 public:
  CTASKLIST() : m_list(this) {}
  ~CTASKLIST() override;

  PTR_FLIST<CTASKLIST, CTASK> m_list;
};

extern CTASKLIST* pAllTasks;

enum : int32_t { kTaskInit = 0, kTaskRunning = 1, kTaskExiting = 2, kTaskEnded = 3 };

class CTASK : public OS_CTASK {
 public:
  explicit CTASK(const char* name);
  // Stops the task (a third of a second per phase, then by force), makes
  // sure its thread is gone (every wait bounded) and leaves pAllTasks.
  virtual ~CTASK();
  CTASK(const CTASK&) = delete;
  CTASK& operator=(const CTASK&) = delete;

  // The base Init marks the task running; a derived Init calls it last.
  void Init() override;
  virtual void WaitEnd();
  virtual int GetPriority(int* priority);
  virtual int SetPriority(int priority);
  virtual int Resume();
  virtual int Suspend();
  virtual int NotSupported();
  // Asks the body to end and waits up to `runTimeout` ticks, then kills a
  // task still running; waits up to `exitTimeout` ticks for Exit, then kills
  // a task still exiting. -1: no limit.
  virtual void Stop(int runTimeout, int exitTimeout);
  // Spawns the thread and returns once Init has run, the thread ended,
  // CancelStart was called, or the thread did not begin within 10 s.
  virtual void Start(int priority);
  // From another thread: ends a Start in progress or to come at once, and a
  // thread that has not begun its Init yet ends without running it. For an
  // object about to be destroyed; it is not started again.
  void CancelStart() { m_startCancelled.store(true); }
  // The same whenever `*flag` is true: the owner's own flag, which it can
  // set without reaching into this object (set before the first Start).
  void CancelStartWhen(const std::atomic<bool>* flag) { m_cancelWhen = flag; }
  bool StartCancelled() const {
    return m_startCancelled.load() || (m_cancelWhen != nullptr && m_cancelWhen->load());
  }
  virtual void Exit();
  virtual void Run();
  virtual void Kill();
  // How long Kill lets the thread end before it ends it by force (tests
  // shorten it).
  static std::atomic<uint32_t> KillGraceMs;

  const char* GetName() const { return m_name.c_str(); }
  // The task identifier: the address of the task object's OS_CTASK part.
  TASK_ID Id() const { return reinterpret_cast<TASK_ID>(static_cast<const OS_CTASK*>(this)); }
  static CTASK* FromId(TASK_ID id) { return static_cast<CTASK*>(reinterpret_cast<OS_CTASK*>(id)); }
  int isActiveTask() const;
  // 1 when a stop was requested within `timeoutMs` milliseconds.
  int WaitStop(int32_t timeoutMs);
  void Stop(int timeout) { Stop(timeout, timeout); }

  // The thread entry routine.
  static void START(void* task);

  // True when `task` is a live task object; *name then receives its name
  // (null for a task without one).
  static bool FindLive(TASK_ID task, const char** name);

  PTR_FNODE<CTASK, CTASKLIST> m_node;
  std::atomic<int32_t> m_stopRequested{0};
  EVENT m_stopEvent;
  std::atomic<int32_t> m_state{kTaskInit};
  RESOURCE m_runLock;
  RESOURCE m_killLock;
  BoundedString m_name;
  EVENT m_endedEvent;
  std::atomic<TASK_ID> m_tid{kNoTask};
  std::atomic<TASK_ID> m_killer{kNoTask};
  std::atomic<bool> m_startCancelled{false};
  const std::atomic<bool>* m_cancelWhen = nullptr;
  int32_t m_stackSize = 32768;
  int32_t m_options = 8;

 private:
  // Waits (bounded) for the previous thread of this object to be gone,
  // ending it by force if need be, and releases it.
  void ReleaseThread();
};
