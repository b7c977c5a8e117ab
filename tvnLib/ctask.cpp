#include "ctask.h"

#include <cinttypes>
#include <mutex>

#include "echo.h"
#include "excpt.h"
#include "fault_points.h"
#include "logFile.h"
#include "thread_end.h"
#include "tvn_assert.h"

CTASKLIST* pAllTasks = nullptr;

std::atomic<uint32_t> CTASK::KillGraceMs{5000};

namespace {

// Guards the test of pAllTasks, its creation with the first task object and
// its destruction with the last: tasks of different consoles are made and
// destroyed on different threads.
std::mutex& TaskListGuard() {
  static std::mutex guard;
  return guard;
}

const char* NameOrEmpty(TASK_ID task) {
  const char* name = task == kNoTask ? nullptr : taskNameGet(task);
  return name != nullptr ? name : "";
}

// Ends a run of START: releases the run lock and reports the thread ended.
// A scoped object, so that a thread cancelled on POSIX still does both.
struct RunScope {
  explicit RunScope(CTASK* t) : task(t) {
    EchoSetThreadName(task->GetName());
    task->m_runLock.Lock("CTASK::START", -1);
  }
  ~RunScope() {
    task->m_runLock.Unlock();
    EchoSetThreadName(nullptr);
    task->m_endedEvent.Set();
  }
  CTASK* task;
};

// How long Start waits for the new thread's Init.
constexpr uint32_t kStartWaitMs = 10000;

}  // namespace

CTASKLIST::~CTASKLIST() = default;

bool CTASK::FindLive(TASK_ID task, const char** name) {
  if (task == kNoTask) return false;
  std::lock_guard<std::mutex> guard(TaskListGuard());
  if (pAllTasks == nullptr) return false;
  RESOURCE_LOCK lock(pAllTasks, nullptr);
  for (FNODE* node = pAllTasks->m_list.m_first; node != nullptr; node = node->m_next) {
    CTASK* candidate = static_cast<PTR_FNODE<CTASK, CTASKLIST>*>(node)->m_object;
    if (candidate->Id() == task) {
      *name = candidate->GetName();
      return true;
    }
  }
  return false;
}

CTASK::CTASK(const char* name) : m_node(this) {
  m_name = name;
  m_endedEvent.Set();
  std::lock_guard<std::mutex> guard(TaskListGuard());
  if (pAllTasks == nullptr) pAllTasks = new CTASKLIST;
  RESOURCE_LOCK lock(pAllTasks, nullptr);
  pAllTasks->m_list.Prepend(&m_node);
}

CTASK::~CTASK() {
  CTASK::Stop(100, 100);
  ReleaseThread();
  std::lock_guard<std::mutex> guard(TaskListGuard());
  if (pAllTasks == nullptr) TVN_ASSERT_FAIL("pAllTasks", "tvnLib/ctask.cpp", 70);
  pAllTasks->Lock("CTASK::~CTASK", -1);
  pAllTasks->m_list.Remove(&m_node);
  if (pAllTasks->m_list.m_count == 0) {
    pAllTasks->Unlock();
    delete pAllTasks;
    pAllTasks = nullptr;
  } else {
    pAllTasks->Unlock();
  }
}

void CTASK::ReleaseThread() {
  if (m_hThread == nullptr) return;
  // Stop has ended or killed the thread; one that never began its Init
  // never will (at unload it cannot even run).
  if (!JoinOrEndThread(m_hThread, KillGraceMs.load()))
    EchoPrint("CTASK %s: its thread could not be ended", GetName());
  osThreadClose(m_hThread);
  m_hThread = nullptr;
}

void CTASK::Init() {
  m_state = kTaskRunning;
  LogTrace(1, "Task %s: Init", GetName());
}

void CTASK::Exit() {
  m_state = kTaskEnded;
  m_tid = kNoTask;
  LogTrace(1, "Task::Exit()");
}

void CTASK::Run() {}

int CTASK::isActiveTask() const {
  const TASK_ID tid = m_tid;
  if (tid == kNoTask) return 0;
  return tid == taskSelf() ? 1 : 0;
}

// Every stop request sets the flag before the event: a look that does not
// wait needs no system call (the receiver asks after every datagram).
int CTASK::WaitStop(int32_t timeoutMs) {
  if (m_stopRequested.load(std::memory_order_acquire) != 0) return 1;
  return timeoutMs == 0 ? 0 : m_stopEvent.Wait(timeoutMs);
}

void CTASK::WaitEnd() {
  if (m_state != kTaskRunning || isActiveTask()) return;
  RESOURCE_LOCK join(&m_runLock, nullptr);
}

int CTASK::GetPriority(int* priority) {
  const TASK_ID tid = m_tid;
  if (tid == kNoTask) {
    *priority = 255;
    return 0;
  }
  return taskPriorityGet(tid, priority);
}

// Each reads the identifier once: the task's thread clears it when it ends.
int CTASK::SetPriority(int priority) {
  const TASK_ID tid = m_tid;
  return tid == kNoTask ? -1 : taskPrioritySet(tid, priority);
}
int CTASK::Resume() {
  const TASK_ID tid = m_tid;
  return tid == kNoTask ? -1 : taskResume(tid);
}
int CTASK::Suspend() {
  const TASK_ID tid = m_tid;
  return tid == kNoTask ? -1 : taskSuspend(tid);
}
int CTASK::NotSupported() {
  const TASK_ID tid = m_tid;
  return tid == kNoTask ? -1 : taskNotSupported(tid);
}

void CTASK::Start(int priority) {
  if (m_tid != kNoTask) {
    LogWarning(1, "CANT START CTASK %s. ALREADY RUNNING (%i)", GetName(), static_cast<int>(m_tid));
    return;
  }
  ReleaseThread();
  m_endedEvent.Reset();
  m_state = kTaskInit;
  // The stop request is cleared here, before the thread exists, so that a
  // Stop made at any moment after this is never lost.
  m_stopRequested = 0;
  m_stopEvent.Reset();
  // The identifier is known before the thread runs, so the new thread never
  // sees itself as "not running". The spawn's result is used only when it
  // failed: a short task may have ended (and cleared m_tid) by then.
  m_tid = Id();
  const TASK_ID spawned = taskSpawn(GetName(), priority, m_options, m_stackSize, &CTASK::START, this);
  if (spawned == kNoTask) {
    // No thread will ever set the ended event: the task is stopped now.
    m_tid = kNoTask;
    m_endedEvent.Set();
    return;
  }
  FaultPause(FaultPoint::StartBeforeResume);
  taskDebugName(spawned);
  Resume();
  // Wait until Init has moved the state on; a thread that ended without
  // finishing Init, a cancelled start, or a thread that could not even
  // begin within the limit ends the wait as well.
  const uint32_t start = osTickCountMs();
  while (m_state == kTaskInit && m_tid != kNoTask && !m_endedEvent.IsSet() && !StartCancelled()) {
    if (osTickCountMs() - start >= kStartWaitMs) {
      EchoPrint("CTASK %s: its thread did not start within %u ms", GetName(), static_cast<unsigned>(kStartWaitMs));
      break;
    }
    taskSleep(10);
  }
  if (m_state == kTaskInit) m_tid = kNoTask;
}

void CTASK::Stop(int runTimeout, int exitTimeout) {
  if (isActiveTask()) TVN_ASSERT_FAIL("!isActiveTask()", "tvnLib/ctask.cpp", 225);
  if (m_state == kTaskInit || m_state == kTaskRunning) {
    m_stopRequested = 1;
    m_stopEvent.Set();
    // A thread that has not begun is stopped before it does (at unload it
    // could never begin): nothing to wait for.
    if (m_hThread != nullptr && !osThreadEntered(m_hThread) && osThreadJoin(m_hThread, 0)) {
      m_tid = kNoTask;
      m_endedEvent.Set();
    }
    m_endedEvent.Wait(static_cast<int32_t>(MsFromTicks(runTimeout)));
  }
  RESOURCE_LOCK kill(&m_killLock, nullptr);
  if (m_state == kTaskRunning) Kill();
  if (m_state == kTaskRunning || m_state == kTaskExiting)
    m_endedEvent.Wait(static_cast<int32_t>(MsFromTicks(exitTimeout)));
  if (m_state == kTaskExiting) Kill();
}

void CTASK::Kill() {
  m_killer = taskSelf();
  m_stopRequested = 1;
  if (!m_stopEvent.IsSet()) m_stopEvent.Set();
  // A thread ended where it stood reports nothing: the locks it held are
  // freed (JoinOrEndThread), and its end is reported here, so that the task
  // can be waited for and started again.
  if (m_hThread != nullptr && JoinOrEndThread(m_hThread, KillGraceMs.load()) && !m_endedEvent.IsSet())
    m_endedEvent.Set();
  m_state = kTaskEnded;
  m_tid = kNoTask;
}

// A thread ended by force may unwind through here (POSIX cancellation):
// every catch-all first lets the platform pass that unwind on.
void CTASK::START(void* p) {
  CTASK* task = static_cast<CTASK*>(p);
  if (task == nullptr) TVN_ASSERT_FAIL("p", "tvnLib/ctask.cpp", 334);
  task->m_endedEvent.Reset();
  taskSelfSet(task->Id());
  RunScope scope(task);

  bool initialised = false;
  try {
    if (!task->StartCancelled()) {
      FaultPause(FaultPoint::TaskBeforeInit);
      task->Init();
      initialised = true;
    }
  } catch (const EXCPT& caught) {
    const EXCPT copy(caught);
    EchoPrint("EXCPT: %s %s: CANT INITIALIZE CTASK %s. TERMINATING!", "class EXCPT", copy.Tag().text,
              task->GetName());
  } catch (...) {
    osPassForcedUnwind();
    EchoPrint("CANT INITIALIZE CTASK %s. TERMINATING!", task->GetName());
  }

  if (initialised) {
    try {
      task->Run();
      task->m_state = kTaskExiting;
    } catch (const EXCPT_TASKKILL& kill) {
      const TASK_ID killer = task->m_killer != kNoTask ? task->m_killer.load() : kill.m_killer;
      EchoPrint("CTASK %" PRIxPTR " %s KILLED BY FORCE FROM CTASK %s",
                static_cast<uintptr_t>(task->m_tid.load()), NameOrEmpty(taskSelf()),
                NameOrEmpty(killer));
    } catch (const EXCPT_NET& net) {
      EchoPrint("CTASK %s KILLED BY NET-EXCEPTION: %i %s ", NameOrEmpty(taskSelf()), net.m_code,
                net.m_text);
    } catch (...) {
      osPassForcedUnwind();
      EchoPrint("CTASK %" PRIxPTR " %s ENDED WITH UNKNOWN EXCEPTION",
                static_cast<uintptr_t>(task->m_tid.load()), NameOrEmpty(taskSelf()));
    }
    try {
      task->m_state = kTaskExiting;
      task->m_stopRequested = 1;
      task->Exit();
    } catch (const EXCPT_NET& net) {
      EchoPrint("CTASK %s KILLED BY NET-EXCEPTION: %i %s ", task->GetName(), net.m_code, net.m_text);
    } catch (...) {
      osPassForcedUnwind();
      EchoPrint("CANT EXIT CTASK %s CORRECTLY", task->GetName());
    }
  }
  EchoPrint("CTASK %s Abort OK", task->GetName());
}
