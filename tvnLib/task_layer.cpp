#include "ctask.h"
#include "echo.h"
#include "os_ctask.h"

namespace {

OS_CTASK* TaskOf(TASK_ID task) { return reinterpret_cast<OS_CTASK*>(task); }

const char* NameOf(TASK_ID task) {
  const char* name = taskNameGet(task);
  return name != nullptr ? name : "";
}

}  // namespace

TASK_ID taskSpawn(const char* name, int priority, int /*options*/, int stackSize, TASK_ENTRY entry,
                  OS_CTASK* task) {
  uint32_t threadId = 0;
  OsThread* thread =
      osThreadCreate(entry, task, static_cast<uint32_t>(stackSize), /*suspended=*/true, &threadId);
  if (thread == nullptr) {
    EchoPrint("taskSpawn ERROR: CreateThread, taskname: %s, errno. %d", name,
              static_cast<int>(osLastError()));
    return kNoTask;
  }
  task->m_hThread = thread;
  task->m_threadId = threadId;
  const TASK_ID id = reinterpret_cast<TASK_ID>(task);
  taskPrioritySet(id, priority);
  taskResume(id);
  osThreadDisableBoost(thread);
  taskSleep(0);
  return id;
}

int taskPrioritySet(TASK_ID task, int priority) {
  OS_CTASK* t = TaskOf(task);
  t->m_priority = priority;
  return osThreadSetPriority(t->m_hThread, priority) ? 0 : -1;
}

int taskPriorityGet(TASK_ID task, int* priority) {
  if (!osThreadGetPriority(TaskOf(task)->m_hThread, priority)) {
    EchoPrint("taskPriorityGet failure, errno=%d, name=%s", static_cast<int>(osLastError()),
              NameOf(task));
    return -1;
  }
  return 0;
}

int taskResume(TASK_ID task) {
  if (!osThreadResume(TaskOf(task)->m_hThread)) {
    EchoPrint("taskResume failure, errno=%d, name=%s", static_cast<int>(osLastError()), NameOf(task));
    return -1;
  }
  return 0;
}

int taskSuspend(TASK_ID task) {
  if (!osThreadSuspend(TaskOf(task)->m_hThread)) {
    EchoPrint("taskSuspend failure, errno=%d, name=%s", static_cast<int>(osLastError()),
              NameOf(task));
    return -1;
  }
  return 0;
}

const char* taskNameGet(TASK_ID task) {
  if (task == kNoTask) return nullptr;
  const char* name = nullptr;
  if (!CTASK::FindLive(task, &name)) OsTaskNameFault();
  return name;
}

TASK_ID taskSelf() {
  if (TaskTlsIndex == kOsTlsInvalid) return kNoTask;
  void* value = osTlsGet(TaskTlsIndex);
  return value == nullptr ? kNoTask : reinterpret_cast<TASK_ID>(value);
}

RESOURCE* taskSelfKillLock() {
  const TASK_ID self = taskSelf();
  return self == kNoTask ? nullptr : &CTASK::FromId(self)->m_killLock;
}

void taskSelfSet(TASK_ID task) {
  if (TaskTlsIndex == kOsTlsInvalid) return;
  osTlsSet(TaskTlsIndex, task == kNoTask ? nullptr : reinterpret_cast<void*>(task));
}

void taskSleep(int32_t ticks) {
  osSleepMs(ticks == -1 ? -1 : static_cast<int32_t>(MsFromTicks(ticks)));
}

void taskDebugName(TASK_ID task) {
  if (task == kNoTask) return;
  CTASK* t = CTASK::FromId(task);
  osThreadSetDebugName(t->m_hThread, t->GetName());
}
