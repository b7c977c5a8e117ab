// Locks, events and tasks across threads.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <pthread.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/echo_capture.h"
#include "support/platform.h"
#include "support/timing.h"
#include "tvnLib/ctask.h"
#include "tvnLib/excpt.h"
#include "tvnLib/fault_points.h"
#include "tvnLib/sync.h"
#include "tvnLib/udpsocket.h"

namespace {

using Ints = std::vector<int>;

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
  event.Reset();
  EXPECT_EQ((Ints{event.IsSet(), event.Release()}), (Ints{0, 1}));  // an event's release does nothing
  for (const int limitMs : {100, 1000})  // under and over a second: within [limit - 10, limit + 500] ms
    EXPECT_NEAR(MsTaken([&] { EXPECT_EQ(event.Wait(limitMs), 0); }), limitMs + 245, 255);
  SYNCOBJECT none;  // without a handle: fails at once
  EXPECT_EQ((Ints{none.Wait(-1), none.Release()}), (Ints{0, 0}));
}

TEST(CriticalSection, NestsOnOneThreadExcludesOthersAndIsFreedWhenItsHolderIsEnded) {
  RESOURCE lock;
  EXPECT_EQ((Ints{lock.Lock("test", -1), lock.Lock(nullptr, -1), lock.Depth()}), (Ints{1, 1, 2}));
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
  std::thread([&] { lock.Lock(); }).join();
  EXPECT_EQ((Ints{lock.TryLockFor(20), CCRITICAL_SECTION::ReleaseAllOf(lock.Owner()), lock.TryLockFor(0)}),
            (Ints{0, 1, 1}));
  lock.Unlock();
}

// A task whose hooks tests can steer.
class TestTask : public CTASK {
 public:
  explicit TestTask(const char* name = "TESTTASK", bool quickRun = false) : CTASK(name), quick(quickRun) {}
  ~TestTask() override { Stop(-1, -1); }

  void Init() override {
    initEntered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(initDelayMs));
    if (initThrows) throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "SO_REUSEADDR", 5);
    CTASK::Init();
  }
  void Run() override {
    ran = true;
    if (body) body();
    if (runThrows == 1) throw EXCPT_UDP("NO ROUTE %i", 7);
    if (runThrows == 2) throw 42;
    if (quick) return;
    while (stuck) {  // ignores every stop request, talks and waits on its socket all the time
      EchoPrint("still here");
      const TVN_TIMEVAL wait{0, 3000};
      socket->selectRead(&wait);
    }
    while (WaitStop(0) == 0) taskSleep(3);
  }
  void Exit() override {
    exited = true;
    if (exitThrows == 1) throw EXCPT_UDP("EXIT FAILED");
    if (exitThrows == 2) throw 43;
    while (stuckInExit) taskSleep(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(exitDelayMs));
    CTASK::Exit();
  }

  int initDelayMs = 0, exitDelayMs = 0;
  bool initThrows = false;
  bool stuck = false;  // needs `socket`
  bool quick = false;  // Run returns at once
  int runThrows = 0;   // 1: a network exception, 2: anything else
  int exitThrows = 0;
  bool stuckInExit = false;
  UDPSOCKET* socket = nullptr;
  std::function<void()> body;  // run first in Run, when set
  std::atomic<bool> initEntered{false}, ran{false}, exited{false};
};

// What a task's owner sees of it: its state, its identifier and its ended event.
using Seen = std::tuple<int32_t, TASK_ID, int>;
Seen SeenOf(const CTASK& task) { return Seen{task.m_state.load(), task.m_tid.load(), task.m_endedEvent.IsSet()}; }
const Seen kEnded{kTaskEnded, kNoTask, 1};

TEST(Task, StartReturnsOnlyAfterInitAndStopEndsAPollingBody) {
  EchoCapture echo;
  TestTask task;
  task.Stop(-1, -1);  // never started: at once
  EXPECT_EQ(task.m_state, kTaskInit);
  task.initDelayMs = 150;
#ifndef _WIN32
  char threadName[16] = "";  // what a debugger shows
  task.body = [&] { pthread_getname_np(pthread_self(), threadName, sizeof threadName); };
#endif
  EXPECT_GE(MsTaken([&] { task.Start(0); }), 140);
  EXPECT_EQ(task.m_state, kTaskRunning);
  // A priority is read back as set, applied or not.
  int priority = -1;
  EXPECT_EQ((Ints{task.GetPriority(&priority), priority, task.SetPriority(2), task.GetPriority(&priority), priority}),
            (Ints{0, 0, 0, 0, 2}));
  task.Start(0);  // refused while running; the thread is left alone
  EXPECT_EQ(task.m_state, kTaskRunning);

  task.Stop(-1, -1);
  EXPECT_TRUE(task.exited);
  EXPECT_EQ(SeenOf(task), kEnded);
  EXPECT_TRUE(echo.Contains("CTASK TESTTASK Abort OK"));
#ifndef _WIN32
  EXPECT_STREQ(threadName, "TESTTASK");
#endif
  EXPECT_EQ((Ints{task.GetPriority(&priority), priority, task.SetPriority(1), task.Resume()}), (Ints{0, 255, -1, -1}));

  task.initDelayMs = 0;
  task.Start(0);  // a task object can be started again
  EXPECT_EQ(task.m_state, kTaskRunning);
  // Stop waits for the task alone: its last lines take nothing Stop holds.
  EXPECT_LT(MsTaken([&] { task.Stop(-1, 900); }), 1000);
  // Stop asks before it kills: an end slower than the kill's grace is let be.
  const uint32_t grace = CTASK::KillGraceMs.exchange(20);
  task.exitDelayMs = 100;
  task.Start(0);
  task.Stop(-1, -1);
  CTASK::KillGraceMs = grace;
  EXPECT_EQ(echo.Count("CTASK TESTTASK Abort OK"), 3);
  EXPECT_EQ(task.m_state, kTaskEnded);
  EXPECT_FALSE(echo.Contains("KILLED"));
}

TEST(Task, StartsThatFailOrAreCancelledLeaveAStoppedTaskThatStartsAgainAndLoseNoStop) {
  EchoCapture echo;
  TestTask task("NOTHREAD");
  osRefuseCreations(1);
  task.Start(0);
  osRefuseCreations(0);
  EXPECT_TRUE(echo.Contains("taskSpawn ERROR: CreateThread, taskname: NOTHREAD"));
  EXPECT_EQ(SeenOf(task), Seen(kTaskInit, kNoTask, 1));
  EXPECT_LT(MsTaken([&] { task.Stop(-1, -1); }), 100);
  task.Start(0);  // and it can be started once threads can be had again
  EXPECT_EQ(task.m_state, kTaskRunning);

  // A start cancelled while its thread is past its start's check but not
  // yet in Init returns at once, and a stop made then is never lost.
  TestTask late("LATE");
  FaultArm(FaultPoint::TaskBeforeInit, 600);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    late.CancelStart();
  });
  EXPECT_LT(MsTaken([&] { late.Start(0); }), 450);
  canceller.join();
  EXPECT_EQ(late.m_tid, kNoTask);
  // Its thread goes on at 600 ms; a lost stop would have it killed after
  // Stop's second, and the kill takes five more.
  EXPECT_LT(MsTaken([&] { late.Stop(300, 300); }), 1000);
  FaultDisarmAll();
  EXPECT_FALSE(echo.Contains("KILLED"));

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
    TestTask shortOne("SHORT", true);
    shortOne.Start(0);
    ASSERT_EQ(shortOne.m_endedEvent.Wait(2000), 1);
    EXPECT_EQ(SeenOf(shortOne), kEnded) << "run " << i;
  }
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
    TestTask task(c.name, true);
    task.initThrows = c.init;
    task.runThrows = c.run;
    task.exitThrows = c.exit;
    task.Start(0);
    ASSERT_EQ(task.m_endedEvent.Wait(2000), 1) << c.name;
    // Exit runs after a failed Run; neither runs after a failed Init.
    EXPECT_EQ((std::vector<bool>{task.ran, task.exited}), std::vector<bool>(2, !c.init)) << c.name;
    const int report = echo.Find(c.line);
    EXPECT_GE(report, 0) << c.line;
    EXPECT_GT(echo.Find(std::string("CTASK ") + c.name + " Abort OK", report), report) << c.name;
  }
}

// True when a whole echo line, its prefix with the writer's name included,
// contains `text`.
bool HasLine(const EchoCapture& echo, const std::string& text) {
  for (const std::string& line : echo.Lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

TEST(Task, TasksThatIgnoreStopAreKilledInEitherPhaseAndLeaveNothingHeld) {
  EchoCapture echo;
  TestTask exiting("SLOWEXIT", true);
  exiting.stuckInExit = true;
  exiting.Start(0);
  for (int i = 0; i < 200 && exiting.m_state != kTaskExiting; ++i) taskSleep(3);
  ASSERT_EQ(exiting.m_state, kTaskExiting);
  EXPECT_GE(MsTaken([&] { exiting.Stop(30, 0); }), 4900);  // Kill's own grace
  EXPECT_EQ(SeenOf(exiting), kEnded);
  EXPECT_FALSE(echo.Contains("CTASK SLOWEXIT Abort OK"));

  TestTask task("STUCK");
  UDPSOCKET socket(0, 0, 1);
  task.stuck = true;
  task.socket = &socket;
  task.Start(0);
  const int64_t took = MsTaken([&] { task.Stop(0, 0); });
  EXPECT_GE(took, 4900);
  EXPECT_LT(took, 9000);
  EXPECT_EQ(SeenOf(task), kEnded);
  EXPECT_FALSE(task.exited);
  // Nothing the killed task held stays held: its socket closes at once,
  // later lines and tasks go on, and its object starts again. Echo lines
  // carry their writer's name, cut to four letters.
  EXPECT_LT(MsTaken([&] { socket.Close(); }) + MsTaken([&] { EchoPrint("after the kill"); }), 500);
  EXPECT_TRUE(HasLine(echo, " STUC: still here"));
  EXPECT_TRUE(HasLine(echo, " ????: after the kill"));
  const int said = echo.Count("still here");
  taskSleep(30);
  EXPECT_EQ(echo.Count("still here"), said);  // its thread is gone, not left running
  task.stuck = false;
  task.Start(0);
  EXPECT_EQ(task.m_state, kTaskRunning);
  task.Stop(-1, -1);
  EXPECT_TRUE(task.exited);
}

TEST(Task, TheListOfAllTasksLivesFromTheFirstTaskToTheLastOnEveryThread) {
  ASSERT_EQ(pAllTasks, nullptr);
  auto a = std::make_unique<TestTask>("A");
  ASSERT_NE(pAllTasks, nullptr);
  EXPECT_EQ(a->m_node.m_owner, pAllTasks);
  auto b = std::make_unique<TestTask>("B");
  EXPECT_EQ(pAllTasks->m_list.m_count, 2);
  b.reset();
  EXPECT_EQ(pAllTasks->m_list.m_count, 1);
  a.reset();
  EXPECT_EQ(pAllTasks, nullptr);
  std::vector<std::thread> threads;
  // Each task started, then stopped and destroyed as its statement ends.
  for (int t = 0; t < 4; ++t) threads.emplace_back([] { for (int i = 0; i < 20; ++i) TestTask("CHURN").Start(0); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(pAllTasks, nullptr);
}

// In a child process whose echo reaches standard error: `body` (and any
// task it started, within ten seconds) must end it through the assertion on `what`
// at `file`:`line`.
void ExpectAssertion(const std::function<void()>& body, const char* what, const char* file, int line) {
  const auto child = [&] {
    EchoToStderrInThisProcess();
    body();
    taskSleep(3000);
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0),
              OnStderr(std::string("Assertion failed: ") + what + ",\nFile: tvnLib/" + file + "\nLine: " +
                       std::to_string(line)));
}

TEST(TaskDeathTest, ProgrammingErrorsEndTheProcessThroughTheAssertion) {
  int notATask = 0;
  ExpectAssertion([&] { taskNameGet(reinterpret_cast<TASK_ID>(&notATask)); }, "FALSE", "\\w+/os_ctask.cpp", 108);
  TestTask task;
  ExpectAssertion(
      [&] {
        task.Start(0);
        task.NotSupported();
      },
      "FALSE", "\\w+/os_ctask.cpp", 92);
  task.body = [&] { task.Stop(-1, -1); };
  ExpectAssertion([&] { task.Start(0); }, "!isActiveTask\\(\\)", "ctask.cpp", 225);
  // An assertion raised on a task's thread while the task list's guard is
  // held: the echo line must not need that guard again.
  task.body = [] {
    TestTask inner("INNER");
    pAllTasks = nullptr;
  };
  ExpectAssertion([&] { task.Start(0); }, "pAllTasks", "ctask.cpp", 70);
}

}  // namespace
