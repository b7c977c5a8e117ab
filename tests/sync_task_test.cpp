// Locks, events and tasks across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/echo_capture.h"
#include "support/platform.h"
#include "tvnLib/ctask.h"
#include "tvnLib/excpt.h"
#include "tvnLib/fault_points.h"
#include "tvnLib/sync.h"
#include "tvnLib/udpsocket.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  EVENT event;
  EXPECT_EQ(event.Wait(0), 0);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { released += event.Wait(-1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(released, 0);
  event.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released, 4);
  EXPECT_EQ(event.Wait(0), 1);  // a successful wait does not reset it
  EXPECT_EQ(event.IsSet(), 1);
  event.Set();
  event.Reset();
  EXPECT_EQ(event.IsSet(), 0);
  EXPECT_EQ(event.Wait(0), 0);
  EXPECT_EQ(event.Release(), 1);
  EXPECT_EQ(event.IsSet(), 0);
}

TEST(Event, TimedWaitTimesOutAndAnObjectWithoutHandleFailsAtOnce) {
  EVENT event;
  const auto start = Clock::now();
  EXPECT_EQ(event.Wait(100), 0);
  EXPECT_GE(MsSince(start), 90);
  SYNCOBJECT none;
  const auto again = Clock::now();
  EXPECT_EQ(none.Wait(-1), 0);
  EXPECT_LT(MsSince(again), 50);
  EXPECT_EQ(none.Release(), 0);
}

TEST(CriticalSection, NestsOnOneThreadAndExcludesOthersUntilFullyReleased) {
  RESOURCE lock;
  EXPECT_EQ(lock.Lock("test", -1), 1);
  EXPECT_EQ(lock.Lock(nullptr, -1), 1);
  EXPECT_EQ(lock.Depth(), 2);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    RESOURCE_LOCK guard(&lock, "other");
    entered = true;
  });
  lock.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);  // still held once
  lock.Unlock();
  other.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(lock.Depth(), 0);
  RESOURCE_LOCK nothing(nullptr, "null guard does nothing");
}

// A task whose hooks tests can steer.
class TestTask : public CTASK {
 public:
  explicit TestTask(const char* name = "TESTTASK") : CTASK(name) {}
  ~TestTask() override { Stop(-1, -1); }

  void Init() override {
    initEntered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(initDelayMs));
    if (throwInInit) throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "SO_REUSEADDR", 5);
    CTASK::Init();
  }
  void Run() override {
    ran = true;
    if (runThrows == 1) throw EXCPT_UDP("NO ROUTE %i", 7);
    if (runThrows == 2) throw 42;
    if (quick) return;
    if (stuck) {
      for (;;) {  // ignores every stop request, talks and waits all the time
        EchoPrint("still here");
        const TVN_TIMEVAL wait{0, 3000};
        if (socket != nullptr) socket->selectRead(&wait); else taskSleep(1);
      }
    }
    while (WaitStop(0) == 0) taskSleep(3);
  }
  void Exit() override {
    exited = true;
    if (exitThrows == 1) throw EXCPT_UDP("EXIT FAILED");
    if (exitThrows == 2) throw 43;
    if (stuckInExit)
      for (;;) taskSleep(1);
    CTASK::Exit();
  }

  int initDelayMs = 0;
  bool throwInInit = false;
  bool stuck = false;
  bool quick = false;  // Run returns at once
  int runThrows = 0;   // 1: a network exception, 2: anything else
  int exitThrows = 0;
  bool stuckInExit = false;
  UDPSOCKET* socket = nullptr;  // the stuck body's socket waits, when set
  std::atomic<bool> initEntered{false};
  std::atomic<bool> ran{false};
  std::atomic<bool> exited{false};
};

TEST(Task, StartReturnsOnlyAfterInitAndStopEndsAPollingBody) {
  EchoCapture echo;
  TestTask task;
  task.initDelayMs = 150;
  const auto start = Clock::now();
  task.Start(0);
  EXPECT_GE(MsSince(start), 140);
  EXPECT_EQ(task.m_state, kTaskRunning);
  EXPECT_NE(task.m_tid, kNoTask);
  int priority = -1;
  EXPECT_EQ(task.GetPriority(&priority), 0);
  EXPECT_EQ(priority, 0);
  EXPECT_EQ(task.SetPriority(2), 0);  // read back as set, applied or not
  EXPECT_EQ(task.GetPriority(&priority), 0);
  EXPECT_EQ(priority, 2);

  task.Start(0);  // refused while running; the thread is left alone
  EXPECT_EQ(task.m_state, kTaskRunning);

  task.Stop(-1, -1);
  EXPECT_TRUE(task.exited);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_EQ(task.m_tid, kNoTask);
  EXPECT_EQ(task.m_endedEvent.IsSet(), 1);
  EXPECT_TRUE(echo.Contains("CTASK TESTTASK Abort OK"));
  EXPECT_FALSE(echo.Contains("KILLED"));
  EXPECT_EQ(task.GetPriority(&priority), 0);
  EXPECT_EQ(priority, 255);
  EXPECT_EQ(task.SetPriority(1), -1);
  EXPECT_EQ(task.Resume(), -1);

  task.Start(0);  // a task object can be started again
  EXPECT_EQ(task.m_state, kTaskRunning);
  // Stop waits for the task alone: its last lines take nothing Stop holds.
  const auto stopping = Clock::now();
  task.Stop(-1, 900);
  EXPECT_LT(MsSince(stopping), 1000);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_FALSE(echo.Contains("KILLED"));
}

TEST(Task, AStopMadeBeforeTheThreadsInitIsNeverLost) {
  EchoCapture echo;
  TestTask task("LATE");
  FaultArm(FaultPoint::TaskBeforeInit, 300);  // the thread is past its start's check
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    task.CancelStart();
  });
  task.Start(0);
  canceller.join();
  const auto start = Clock::now();
  task.Stop(100, 100);
  EXPECT_LT(MsSince(start), 1000);
  FaultDisarmAll();
  EXPECT_EQ(task.m_tid, kNoTask);
  EXPECT_FALSE(echo.Contains("KILLED"));
}

TEST(Task, StopOnATaskNeverStartedReturnsAtOnce) {
  TestTask task;
  const auto start = Clock::now();
  task.Stop(-1, -1);
  EXPECT_LT(MsSince(start), 100);
  EXPECT_EQ(task.m_state, kTaskInit);
}

TEST(Task, AnExceptionFromInitIsReportedAndStartStillReturns) {
  EchoCapture echo;
  TestTask task("UDPTASK");
  task.throwInInit = true;
  task.Start(0);
  EXPECT_TRUE(task.initEntered);
  EXPECT_FALSE(task.ran);
  EXPECT_FALSE(task.exited);
  EXPECT_EQ(task.m_tid, kNoTask);
  const int report = echo.Find("EXCPT: class EXCPT UDP: CANT INITIALIZE CTASK UDPTASK. TERMINATING!");
  ASSERT_GE(report, 0);
  EXPECT_GT(echo.Find("CTASK UDPTASK Abort OK", report), report);
  // The object can be started again once the cause is gone.
  task.throwInInit = false;
  task.Start(0);
  EXPECT_EQ(task.m_state, kTaskRunning);
}

TEST(Task, ATaskThatEndsBeforeStartReturnsIsNotRunning) {
  // Init, Run and Exit of a short task may all be over before the spawn
  // call returns to Start (the first runs wait there on purpose), or before
  // Start resumes it; the task must not look running afterwards.
  for (int i = 0; i < 200; ++i) {
    if (i < 20) FaultArm(FaultPoint::StartBeforeResume, 20); else FaultDisarmAll();
    TestTask task("SHORT");
    task.quick = true;
    task.Start(0);
    ASSERT_EQ(task.m_endedEvent.Wait(2000), 1);
    EXPECT_EQ(task.m_tid, kNoTask) << "run " << i;
    EXPECT_EQ(task.m_state, kTaskEnded);
  }
}

TEST(Task, AFailedSpawnLeavesAStoppedTask) {
  EchoCapture echo;
  TestTask task("NOTHREAD");
  osRefuseCreations(1);
  task.Start(0);
  osRefuseCreations(0);
  EXPECT_TRUE(echo.Contains("taskSpawn ERROR: CreateThread, taskname: NOTHREAD"));
  EXPECT_EQ(task.m_tid, kNoTask);
  ASSERT_EQ(task.m_endedEvent.IsSet(), 1);  // so that Stop cannot wait for ever
  const auto start = Clock::now();
  task.Stop(-1, -1);
  EXPECT_LT(MsSince(start), 100);
  task.Start(0);  // and it can be started once threads can be had again
  EXPECT_EQ(task.m_state, kTaskRunning);
}

TEST(Task, ACancelledStartReturnsAtOnceAndANotYetInitialisedThreadNeverInits) {
  TestTask slow("SLOWINIT");
  slow.initDelayMs = 600;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    slow.CancelStart();
  });
  const auto start = Clock::now();
  slow.Start(0);
  EXPECT_LT(MsSince(start), 450);
  canceller.join();
  EXPECT_EQ(slow.m_tid, kNoTask);
  slow.Stop(-1, -1);  // the Init already under way finishes, then the task stops

  TestTask never("NEVER");
  never.CancelStart();
  never.Start(0);
  ASSERT_EQ(never.m_endedEvent.Wait(2000), 1);
  EXPECT_FALSE(never.initEntered);
  EXPECT_FALSE(never.ran);
  EXPECT_EQ(never.m_tid, kNoTask);
}

TEST(Task, ExceptionsOutOfRunAndExitAreReportedAndTheThreadEndsInOrder) {
  EchoCapture echo;
  struct Case {
    const char* name;
    int run, exit;
    const char* line;
  };
  const Case cases[] = {
      {"NETRUN", 1, 0, "CTASK NETRUN KILLED BY NET-EXCEPTION: "},
      {"ODDRUN", 2, 0, " ODDRUN ENDED WITH UNKNOWN EXCEPTION"},  // after the task's id
      {"NETEXIT", 0, 1, "CTASK NETEXIT KILLED BY NET-EXCEPTION: "},
      {"ODDEXIT", 0, 2, "CANT EXIT CTASK ODDEXIT CORRECTLY"},
  };
  for (const Case& c : cases) {
    TestTask task(c.name);
    task.quick = true;
    task.runThrows = c.run;
    task.exitThrows = c.exit;
    task.Start(0);
    ASSERT_EQ(task.m_endedEvent.Wait(2000), 1) << c.name;
    EXPECT_TRUE(task.exited) << c.name;  // Exit runs after a failed Run
    const std::string expected = c.line;
    const int report = echo.Find(expected);
    EXPECT_GE(report, 0) << expected;
    EXPECT_GT(echo.Find(std::string("CTASK ") + c.name + " Abort OK", report), report) << c.name;
  }
}

TEST(Task, AnExitThatDoesNotEndIsKilledInTheExitPhase) {
  EchoCapture echo;
  TestTask task("SLOWEXIT");
  task.quick = true;
  task.stuckInExit = true;
  task.Start(0);
  ASSERT_TRUE([&] {
    for (int i = 0; i < 200 && task.m_state != kTaskExiting; ++i) taskSleep(3);
    return task.m_state == kTaskExiting;
  }());
  const auto start = Clock::now();
  task.Stop(30, 0);
  EXPECT_GE(MsSince(start), 4900);  // Kill's own grace
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_EQ(task.m_tid, kNoTask);
  EXPECT_FALSE(echo.Contains("CTASK SLOWEXIT Abort OK"));
}

TEST(Task, ABodyThatIgnoresStopIsKilledAfterTheGraceTime) {
  EchoCapture echo;
  TestTask task("STUCK");
  UDPSOCKET socket(0, 0, 1);
  task.stuck = true;
  task.socket = &socket;
  task.Start(0);
  const auto start = Clock::now();
  task.Stop(0, 0);
  const int64_t took = MsSince(start);
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 9000);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_EQ(task.m_tid, kNoTask);
  EXPECT_FALSE(task.exited);
  // Nothing the killed task held stays held: its socket closes at once,
  // later lines and tasks go on.
  auto line = Clock::now();
  socket.Close();
  EXPECT_LT(MsSince(line), 500);
  line = Clock::now();
  EchoPrint("after the kill");
  EXPECT_LT(MsSince(line), 100);
  EXPECT_TRUE(echo.Contains("after the kill"));
  TestTask next("NEXT");
  next.Start(0);
  EXPECT_EQ(next.m_state, kTaskRunning);
  next.Stop(-1, -1);
  EXPECT_TRUE(echo.Contains("CTASK NEXT Abort OK"));
  // The killed task's object starts again.
  task.stuck = false;
  task.Start(0);
  EXPECT_EQ(task.m_state, kTaskRunning);
  task.Stop(-1, -1);
  EXPECT_TRUE(task.exited);
}

TEST(Task, TheListOfAllTasksLivesFromTheFirstTaskToTheLast) {
  ASSERT_EQ(pAllTasks, nullptr);
  {
    TestTask a("A");
    ASSERT_NE(pAllTasks, nullptr);
    EXPECT_EQ(pAllTasks->m_list.m_count, 1);
    EXPECT_EQ(a.m_node.m_owner, pAllTasks);
    {
      TestTask b("B");
      EXPECT_EQ(pAllTasks->m_list.m_count, 2);
    }
    EXPECT_EQ(pAllTasks->m_list.m_count, 1);
  }
  EXPECT_EQ(pAllTasks, nullptr);
}

TEST(Task, TasksMadeAndDestroyedOnManyThreadsKeepTheListConsistent) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 20; ++i) {
        TestTask task("CHURN");
        task.Start(0);
        task.Stop(-1, -1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(pAllTasks, nullptr);
}

TEST(Task, EchoLinesCarryTheTaskName) {
  EchoCapture echo;
  class Printer : public CTASK {
   public:
    Printer() : CTASK("SNIFFER") {}
    ~Printer() override { Stop(-1, -1); }
    void Run() override { EchoPrint("from the task"); }
  } printer;
  printer.Start(0);
  printer.Stop(-1, -1);
  EchoPrint("from the test");
  bool task = false, plain = false;
  for (const std::string& line : echo.Lines()) {
    task = task || line.find(" SNIF: from the task") != std::string::npos;
    plain = plain || line.find(" ????: from the test") != std::string::npos;
  }
  EXPECT_TRUE(task);
  EXPECT_TRUE(plain);
}

TEST(TaskDeathTest, ProgrammingErrorsEndTheProcessThroughTheAssertion) {
  int notATask = 0;
  EXPECT_EXIT(
      {
        EchoToStderrInThisProcess();
        taskNameGet(reinterpret_cast<TASK_ID>(&notATask));
      },
      testing::ExitedWithCode(0), OnStderr("Assertion failed: FALSE,\nFile: tvnLib/\\w+/os_ctask.cpp\nLine: 108"));
  EXPECT_EXIT(
      {
        EchoToStderrInThisProcess();
        TestTask task;
        task.Start(0);
        task.NotSupported();
      },
      testing::ExitedWithCode(0), OnStderr("Assertion failed: FALSE,\nFile: tvnLib/\\w+/os_ctask.cpp\nLine: 92"));
  EXPECT_EXIT(
      {
        EchoToStderrInThisProcess();
        class SelfStopper : public CTASK {
         public:
          SelfStopper() : CTASK("SELF") {}
          void Run() override { Stop(-1, -1); }
        } task;
        task.Start(0);
        taskSleep(300);
      },
      testing::ExitedWithCode(0), OnStderr("Assertion failed: !isActiveTask\\(\\),\nFile: tvnLib/ctask.cpp\nLine: 225"));
  // An assertion raised on a task's thread while the task list's guard is
  // held: the echo line must not need that guard again.
  EXPECT_EXIT(
      {
        EchoToStderrInThisProcess();
        class ListBreaker : public CTASK {
         public:
          ListBreaker() : CTASK("BREAKER") {}
          void Run() override {
            TestTask* inner = new TestTask("INNER");
            pAllTasks = nullptr;
            delete inner;
          }
        } task;
        task.Start(0);
        taskSleep(3000);  // the assertion on the task's thread ends the process first
      },
      testing::ExitedWithCode(0), OnStderr("Assertion failed: pAllTasks,\nFile: tvnLib/ctask.cpp\nLine: 70"));
}

}  // namespace
