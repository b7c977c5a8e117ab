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

TEST(Event, ManualResetReleasesEveryWaiterStaysSetAndTimedWaitsTimeOut) {
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
  event.Set();
  event.Reset();
  EXPECT_EQ(event.IsSet(), 0);
  EXPECT_EQ(event.Release(), 1);
  const auto start = Clock::now();
  EXPECT_EQ(event.Wait(100), 0);
  EXPECT_GE(MsSince(start), 90);
  SYNCOBJECT none;  // without a handle: fails at once
  EXPECT_EQ(none.Wait(-1), 0);
  EXPECT_EQ(none.Release(), 0);
}

TEST(CriticalSection, NestsOnOneThreadExcludesOthersAndIsFreedWhenItsHolderIsEnded) {
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
  // A holder that runs no more: its locks go to the next thread.
  uint32_t holder = 0;
  std::thread([&] {
    lock.Lock();
    holder = osCurrentThreadId();
  }).join();
  EXPECT_FALSE(lock.TryLockFor(20));
  EXPECT_EQ(CCRITICAL_SECTION::ReleaseAllOf(holder), 1);
  EXPECT_TRUE(lock.TryLockFor(0));
  lock.Unlock();
}

// A task whose hooks tests can steer.
class TestTask : public CTASK {
 public:
  explicit TestTask(const char* name = "TESTTASK") : CTASK(name) {}
  ~TestTask() override { Stop(-1, -1); }

  void Init() override {
    initEntered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(initDelayMs));
    if (initThrows) throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "SO_REUSEADDR", 5);
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
  bool initThrows = false;
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
  task.Stop(-1, -1);  // never started: at once
  EXPECT_EQ(task.m_state, kTaskInit);
  task.initDelayMs = 150;
  const auto start = Clock::now();
  task.Start(0);
  EXPECT_GE(MsSince(start), 140);
  EXPECT_EQ(task.m_state, kTaskRunning);
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
  EXPECT_EQ(task.GetPriority(&priority), 0);
  EXPECT_EQ(priority, 255);
  EXPECT_EQ(task.SetPriority(1), -1);
  EXPECT_EQ(task.Resume(), -1);

  task.initDelayMs = 0;
  task.Start(0);  // a task object can be started again
  EXPECT_EQ(task.m_state, kTaskRunning);
  // Stop waits for the task alone: its last lines take nothing Stop holds.
  const auto stopping = Clock::now();
  task.Stop(-1, 900);
  EXPECT_LT(MsSince(stopping), 1000);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_FALSE(echo.Contains("KILLED"));
}

TEST(Task, StartsThatFailOrAreCancelledLeaveAStoppedTaskThatStartsAgain) {
  EchoCapture echo;
  TestTask task("NOTHREAD");
  osRefuseCreations(1);
  task.Start(0);
  osRefuseCreations(0);
  EXPECT_TRUE(echo.Contains("taskSpawn ERROR: CreateThread, taskname: NOTHREAD"));
  EXPECT_EQ(task.m_tid, kNoTask);
  const auto start = Clock::now();
  task.Stop(-1, -1);
  EXPECT_LT(MsSince(start), 100);
  task.Start(0);  // and it can be started once threads can be had again
  EXPECT_EQ(task.m_state, kTaskRunning);

  TestTask slow("SLOWINIT");
  slow.initDelayMs = 600;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    slow.CancelStart();
  });
  const auto cancelled = Clock::now();
  slow.Start(0);
  EXPECT_LT(MsSince(cancelled), 450);
  canceller.join();
  EXPECT_EQ(slow.m_tid, kNoTask);

  TestTask never("NEVER");
  never.CancelStart();
  never.Start(0);
  ASSERT_EQ(never.m_endedEvent.Wait(2000), 1);
  EXPECT_FALSE(never.initEntered);
  EXPECT_EQ(never.m_tid, kNoTask);

  // Short tasks may be over before the spawn returns to Start (the first
  // runs wait there on purpose): they must not look running afterwards.
  for (int i = 0; i < 100; ++i) {
    if (i < 20) FaultArm(FaultPoint::StartBeforeResume, 20); else FaultDisarmAll();
    TestTask shortOne("SHORT");
    shortOne.quick = true;
    shortOne.Start(0);
    ASSERT_EQ(shortOne.m_endedEvent.Wait(2000), 1);
    EXPECT_EQ(shortOne.m_tid, kNoTask) << "run " << i;
    EXPECT_EQ(shortOne.m_state, kTaskEnded);
  }
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
  EXPECT_FALSE(echo.Contains("KILLED"));
}

TEST(Task, ExceptionsOutOfInitRunAndExitAreReportedAndTheThreadEndsInOrder) {
  EchoCapture echo;
  struct Case {
    const char* name;
    bool init;
    int run, exit;
    const char* line;
  } const cases[] = {
      {"UDPTASK", true, 0, 0, "EXCPT: class EXCPT UDP: CANT INITIALIZE CTASK UDPTASK. TERMINATING!"},
      {"NETRUN", false, 1, 0, "CTASK NETRUN KILLED BY NET-EXCEPTION: "},
      {"ODDRUN", false, 2, 0, " ODDRUN ENDED WITH UNKNOWN EXCEPTION"},  // after the task's id
      {"NETEXIT", false, 0, 1, "CTASK NETEXIT KILLED BY NET-EXCEPTION: "},
      {"ODDEXIT", false, 0, 2, "CANT EXIT CTASK ODDEXIT CORRECTLY"},
  };
  for (const Case& c : cases) {
    TestTask task(c.name);
    task.quick = true;
    task.initThrows = c.init;
    task.runThrows = c.run;
    task.exitThrows = c.exit;
    task.Start(0);
    ASSERT_EQ(task.m_endedEvent.Wait(2000), 1) << c.name;
    EXPECT_EQ(task.ran.load(), !c.init) << c.name;
    EXPECT_EQ(task.exited.load(), !c.init) << c.name;  // Exit runs after a failed Run, not after Init
    const int report = echo.Find(c.line);
    EXPECT_GE(report, 0) << c.line;
    EXPECT_GT(echo.Find(std::string("CTASK ") + c.name + " Abort OK", report), report) << c.name;
  }
}

TEST(Task, TasksThatIgnoreStopAreKilledInEitherPhaseAndLeaveNothingHeld) {
  EchoCapture echo;
  TestTask exiting("SLOWEXIT");
  exiting.quick = true;
  exiting.stuckInExit = true;
  exiting.Start(0);
  ASSERT_TRUE([&] {
    for (int i = 0; i < 200 && exiting.m_state != kTaskExiting; ++i) taskSleep(3);
    return exiting.m_state == kTaskExiting;
  }());
  auto start = Clock::now();
  exiting.Stop(30, 0);
  EXPECT_GE(MsSince(start), 4900);  // Kill's own grace
  EXPECT_EQ(exiting.m_state, kTaskEnded);
  EXPECT_EQ(exiting.m_tid, kNoTask);
  EXPECT_FALSE(echo.Contains("CTASK SLOWEXIT Abort OK"));

  TestTask task("STUCK");
  UDPSOCKET socket(0, 0, 1);
  task.stuck = true;
  task.socket = &socket;
  task.Start(0);
  start = Clock::now();
  task.Stop(0, 0);
  const int64_t took = MsSince(start);
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 9000);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_FALSE(task.exited);
  // Nothing the killed task held stays held: its socket closes at once,
  // later lines and tasks go on, and its object starts again.
  start = Clock::now();
  socket.Close();
  EchoPrint("after the kill");
  EXPECT_LT(MsSince(start), 500);
  EXPECT_TRUE(echo.Contains("after the kill"));
  task.stuck = false;
  task.Start(0);
  EXPECT_EQ(task.m_state, kTaskRunning);
  task.Stop(-1, -1);
  EXPECT_TRUE(task.exited);
}

TEST(Task, TheListOfAllTasksLivesFromTheFirstTaskToTheLastOnEveryThread) {
  ASSERT_EQ(pAllTasks, nullptr);
  {
    TestTask a("A");
    ASSERT_NE(pAllTasks, nullptr);
    EXPECT_EQ(a.m_node.m_owner, pAllTasks);
    {
      TestTask b("B");
      EXPECT_EQ(pAllTasks->m_list.m_count, 2);
    }
    EXPECT_EQ(pAllTasks->m_list.m_count, 1);
  }
  EXPECT_EQ(pAllTasks, nullptr);
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
  const std::vector<std::string> lines = echo.Lines();
  const auto has = [&](const char* text) {
    for (const std::string& line : lines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has(" SNIF: from the task"));
  EXPECT_TRUE(has(" ????: from the test"));
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
