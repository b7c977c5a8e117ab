// Exceptions, the echo ring and its view, the bounded string, the clock and
// the assertion handler.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/echo_capture.h"
#include "support/platform.h"
#include "tvnLib/bounded_string.h"
#include "tvnLib/echo_view.h"
#include "support/test_registry.h"
#include "tvnLib/excpt.h"
#include "tvnLib/lib_startup.h"
#include "tvnLib/os_ctask.h"
#include "tvnLib/ticks.h"
#include "tvnLib/tvn_assert.h"

namespace {

TEST(Exception, CaughtByValueAsABaseItKeepsTextCodeAndTagAndCutsLongTexts) {
  try {
    throw EXCPT_UDP("Can't bind socket %i to port %s:%i", 7, "0.0.0.0", 9138);
  } catch (const EXCPT& caught) {
    const EXCPT copy(caught);  // the catch's own copy
    EXPECT_STREQ(copy.m_text, "Can't bind socket 7 to port 0.0.0.0:9138");
    EXPECT_STREQ(copy.Tag().text, "UDP");
  }
  EXPECT_THROW(throw EXCPT_UDP("No Socket available"), EXCPT_NET);
  EXCPT_NET e;
  std::memcpy(e.m_tag, "ABCD", 4);
  e.m_code = 0x41414141;  // "AAAA" right after the tag
  EXPECT_STREQ(e.Tag().text, "ABCD");
  EXPECT_STREQ(EXCPT_NET().Tag().text, "NET");
  EXPECT_EQ(std::strlen(EXCPT_UDP("%s", std::string(400, 'y').c_str()).m_text), 255u);
  for (int code : {30, -1}) EXPECT_STREQ(ErrorText(code), "UNKNOWN ERROR") << code;
}

TEST(BoundedString, CopiesCutsAndFrees) {
  EchoCapture echo;
  BoundedString s;
  EXPECT_EQ(s.c_str(), nullptr);
  s = std::string(600, 'z').c_str();
  EXPECT_EQ(std::string(s.c_str()), std::string(512, 'z'));
  EXPECT_TRUE(echo.Contains("WARNING: STRING TOO LONG !"));
  const char* held = s.c_str();
  s = held;  // its own text: unchanged
  EXPECT_EQ(s.c_str(), held);
  s = "short";
  EXPECT_STREQ(s.c_str(), "short");
  s = nullptr;
  EXPECT_EQ(s.c_str(), nullptr);
}

TEST(Echo, LinesShowSecondsSinceLoadAndTheThreadAndAreCutToTheirSlot) {
  EchoReset();
  EchoPrint("lost");  // no window: nothing stored
  EXPECT_EQ(EchoWriteIndex(), 0);
  EXPECT_EQ(EchoRing[0].stamp, -1);
  EchoCapture echo;
  const int32_t savedStart = StartTicks;
  StartTicks = tickNow() - 3750;  // 12.5 s ago
  EchoPrint("hello %d", 5);
  StartTicks = savedStart;
  const std::string line = echo.Lines().at(0);
  EXPECT_EQ(line.substr(0, 8), "012.500 ");
  EXPECT_EQ(line.substr(7), " ????: hello 5");
  EXPECT_EQ(EchoRing[0].colour, kEchoYellow);
  EchoPrint("%s", std::string(600, 'm').c_str());
  EXPECT_EQ(std::strlen(EchoRing[1].text), 511u);
  EchoPrint("line\nend");  // a line end is a character of the same line
  EXPECT_EQ(echo.Messages().back(), "line\nend");
}

TEST(Echo, RingWrapsAfter1024LinesAndTheViewStopsAtTheSeam) {
  EchoCapture echo;
  for (int i = 0; i < 1030; ++i) {
    EchoRing[EchoWriteIndex()].stamp = 0;
    EchoPrint("line %d", i);
    // Stamps strictly rising, as lines written over time have.
    EchoRing[(EchoWriteIndex() + kEchoRingSize - 1) % kEchoRingSize].stamp = i;
  }
  EXPECT_EQ(EchoWrapped(), 1);
  EXPECT_EQ(EchoWriteIndex(), 6);
  EXPECT_EQ(echo.Messages().back(), "line 1029");
  EXPECT_EQ(echo.Messages().front(), "line 6");

  EchoView.TopIndex = 5;  // the newest line's slot
  EXPECT_EQ(EchoShownLineCount(), 1);
  EchoView.TopIndex = 6;  // the oldest: everything up to the newest
  EXPECT_EQ(EchoShownLineCount(), 1024);
  EchoRing[7].stamp = EchoRing[6].stamp;  // lines of one moment are all shown, in order
  std::vector<int> slots;
  EXPECT_EQ(EchoForEachShownLine([&](int slot, int) { slots.push_back(slot); }), 1024);
  EXPECT_EQ((std::vector<int>{slots.front(), slots[1], slots.back()}), (std::vector<int>{6, 7, 5}));

  EchoView.VisibleLines = 10;
  EchoScroll top = EchoVScroll(6, 0);
  EXPECT_EQ(EchoView.TopIndex, 7);  // WriteIndex + 1
  EXPECT_EQ(top.position, 0);
  EchoScroll bottom = EchoVScroll(7, 0);
  EXPECT_EQ(EchoView.TopIndex, (6 - 10 + kEchoRingSize) % kEchoRingSize);
  EXPECT_EQ(bottom.position, kEchoRingSize - 1 - 10);
  EXPECT_TRUE(bottom.changed);
}

TEST(EchoView, StepsStopAtTheEdgesOfWhatWasWrittenAndTheThumbShortOfZero) {
  EchoCapture echo;
  for (int i = 0; i < 3; ++i) EchoPrint("l%d", i);  // the view as reset: top at slot 0
  // Not up onto slot 1023, never written; down twice, not onto slot 3, empty.
  EXPECT_EQ((std::vector<bool>{EchoLineUp(), EchoLineDown(), EchoLineDown(), EchoLineDown()}),
            (std::vector<bool>{false, true, true, false}));
  EXPECT_EQ(EchoView.TopIndex, 2);
  EchoView.VisibleLines = 1;
  EchoView.VScrollPos = 1;
  const EchoScroll up = EchoVScroll(0, 0);  // the wheel's "one line up", onto the first
  EXPECT_EQ((std::vector<int>{up.position, up.changed}), (std::vector<int>{0, 1}));
  EXPECT_EQ(EchoView.TopIndex, 1);
  EchoView.VScrollPos = 0;
  const EchoScroll none = EchoVScroll(0, 0);
  EXPECT_FALSE(none.changed || none.moveBar);
  EXPECT_FALSE(EchoVScroll(42, 0).handled);

  for (int i = 3; i < 20; ++i) EchoPrint("l%d", i);
  EchoView.VisibleLines = 4;
  EchoView.TopIndex = EchoView.VScrollPos = 0;
  EXPECT_EQ(EchoVScroll(3, 0).position, 4);  // page down
  EXPECT_EQ(EchoView.TopIndex, 4);
  EchoView.TopIndex = 10;
  EchoView.VScrollPos = 10;
  EXPECT_EQ(EchoVScroll(5, 4).position, 4);
  EXPECT_EQ(EchoView.TopIndex, 4);
  EXPECT_EQ(EchoVScroll(5, 0).position, 0);
  EXPECT_EQ(EchoView.TopIndex, 1);  // the step onto position 0 is not taken

  EchoView.VisibleColumns = 12;  // first column 0, as reset
  EXPECT_FALSE(EchoHScroll(0, 0).changed);  // left of the first column
  EXPECT_EQ(EchoHScroll(3, 0).position, 500);  // page right
  EXPECT_EQ(EchoView.FirstColumn, 500);
  EXPECT_EQ(EchoHScroll(4, 20).position, 20);  // thumb
  EXPECT_EQ(EchoView.FirstColumn, 20);
  EchoHScroll(2, 0);  // page left
  EXPECT_EQ(EchoView.FirstColumn, 0);
}

TEST(LibraryStartup, ShutdownWritesItsTwoLinesLastAndTheEchoFollowsItsSetting) {
  {
    EchoCapture echo;
    LibShutdown();
    const std::vector<std::string> messages = echo.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "ClrDirMap();");
    EXPECT_EQ(messages.back(), "ClearHosttable();");
    EXPECT_EQ(TaskTlsIndex, kOsTlsInvalid);
  }
  TestRegistry registry;
  registry.Setting("echo", 2u);
  ASSERT_EQ(LibStartup(), 1);
  EXPECT_EQ(EchoWnd.load(), nullptr);
  LibShutdown();
  registry.Setting("echo", 1u);
  ASSERT_EQ(LibStartup(), 1);
  EXPECT_TRUE(!EchoReachesStderr() || EchoWnd.load() != nullptr);  // a window would need a display

  EXPECT_NE(TaskTlsIndex, kOsTlsInvalid);
  EchoDestroy();
  EXPECT_EQ(EchoWnd.load(), nullptr);
}

TEST(AssertDeathTest, ShowsTheTextAndEndsTheProcessWithCodeZero) {
  EXPECT_EXIT((EchoToStderrInThisProcess(), TVN_ASSERT_FAIL("FALSE", "tvnLib/test.cpp", 42)),
              testing::ExitedWithCode(0), OnStderr("Assertion failed: FALSE,\nFile: tvnLib/test.cpp\nLine: 42\n"));
  EXPECT_EXIT(TVN_ASSERT(1 == 2, "1==2", "x", 1), testing::ExitedWithCode(0), "");
}

}  // namespace
