// The task layer: free functions in the manner of a real-time kernel's task
// calls, on the platform's threads (os.h).
//
// A task identifier is the address of the task object (OS_CTASK / CTASK);
// -1 means no task. Time is in ticks of 1/300 second. Results: 0 for
// success, -1 for failure; no exception leaves the layer.
#pragma once

#include <cstdint>

#include "os.h"
#include "ticks.h"

using TASK_ID = intptr_t;
constexpr TASK_ID kNoTask = -1;
using TASK_ENTRY = void (*)(void* task);

// The platform thread of a task object. Written by taskSpawn; the object's
// owner closes the thread record (CTASK does so once the thread has ended).
class OS_CTASK {
 public:
  virtual void Init() {}

  OsThread* m_hThread = nullptr;
  uint32_t m_threadId = 0;
  int32_t m_priority = 0;

 protected:
  OS_CTASK() = default;
  ~OS_CTASK() = default;
};

// Creates the thread suspended with `stackSize` bytes of stack, running
// entry(task); stores the thread in `task`, sets the priority, resumes it,
// turns off the dynamic priority boost and yields. The real-time kernel's
// call takes nine further arguments and an options word; this driver uses
// neither, so only the task is passed. -1 when the thread cannot be made,
// after the echo line "taskSpawn ERROR: CreateThread, ...".
TASK_ID taskSpawn(const char* name, int priority, int options, int stackSize, TASK_ENTRY entry,
                  OS_CTASK* task);

int taskPrioritySet(TASK_ID task, int priority);
int taskPriorityGet(TASK_ID task, int* priority);
int taskResume(TASK_ID task);
// POSIX cannot suspend a thread: -1 with the echo line "taskSuspend failure".
int taskSuspend(TASK_ID task);
// The operation that the platform layer does not offer: fails the assertion
// "FALSE" of os_ctask.
[[noreturn]] int taskNotSupported(TASK_ID task);

// The task's name; null for -1. An identifier that is not a live task fails
// the assertion "FALSE" of os_ctask (OsTaskNameFault, one per platform).
const char* taskNameGet(TASK_ID task);
[[noreturn]] void OsTaskNameFault();

// The calling thread's task, -1 for a thread that is no task.
TASK_ID taskSelf();
// The calling task's kill lock, null for a thread that is no task. Held
// around an operation that a forced kill must not cut in two.
class RESOURCE;
RESOURCE* taskSelfKillLock();
void taskSelfSet(TASK_ID task);

// -1 sleeps for ever; else ticks * 1000 / 300 milliseconds.
void taskSleep(int32_t ticks);

// Names the task's thread for debuggers.
void taskDebugName(TASK_ID task);

// The thread-local slot that holds each thread's task (lib_startup.cpp).
extern uint32_t TaskTlsIndex;
