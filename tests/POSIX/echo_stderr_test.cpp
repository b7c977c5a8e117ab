// The echo's line sink when standard error takes nothing (a pipe that
// nobody reads): lines are dropped, and neither a task's stop nor the
// assertion handler's end of the process waits for it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "support/timing.h"
#include "tvnLib/ctask.h"
#include "tvnLib/echo.h"
#include "tvnLib/tvn_assert.h"

namespace {

// Makes standard error a full pipe for the object's lifetime.
class FullStderr {
 public:
  FullStderr() : m_saved(dup(STDERR_FILENO)) {
    if (pipe(m_pipe) != 0) return;
    fcntl(m_pipe[1], F_SETFL, O_NONBLOCK);
    const char block[4096] = {};
    while (write(m_pipe[1], block, sizeof block) > 0) {
    }
    fcntl(m_pipe[1], F_SETFL, 0);  // blocking again, as a host's would be
    dup2(m_pipe[1], STDERR_FILENO);
  }
  ~FullStderr() {
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    close(m_pipe[0]);
    close(m_pipe[1]);
  }

 private:
  int m_saved;
  int m_pipe[2] = {-1, -1};
};

class Talker : public CTASK {
 public:
  Talker() : CTASK("TALKER") {}
  ~Talker() override { Stop(-1, -1); }
  void Run() override {
    while (WaitStop(0) == 0) {
      EchoPrint("talking");
      taskSleep(1);
    }
  }
};

TEST(EchoSink, AStandardErrorThatTakesNothingHoldsUpNoThread) {
  FullStderr full;
  EchoCreate("test", nullptr, nullptr);
  Talker talker;
  talker.Start(0);
  const auto start = Clock::now();
  talker.Stop(100, 100);
  for (int i = 0; i < 50; ++i) EchoPrint("line %d", i);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(talker.m_state, kTaskEnded);
  EchoDestroy();
}

TEST(EchoSinkDeathTest, TheAssertionEndsTheProcessThoughStandardErrorTakesNothing) {
  EXPECT_EXIT(
      {
        FullStderr full;
        EchoCreate("test", nullptr, nullptr);
        TvnAssert("Assertion failed: x,\nFile: t\nLine: %d\n", 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
