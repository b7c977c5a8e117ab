// The echo window's view of the ring: which slot is at the top, which column
// is first, where the scroll bars stand, and the scroll and paint rules.
//
// Platform-neutral so that it can be tested everywhere; the Win32 window
// procedure (WINDOWS/Os_echo.cpp) is a thin shell over it. The view state is
// touched only by the thread that owns the window, except that writers read
// TopIndex and VisibleLines to decide whether to scroll.
#pragma once

struct EchoViewState {
  int TopIndex = 0;        // ring slot of the first line shown
  int FirstColumn = 0;     // first character column shown, 0..511
  int VScrollPos = 0;
  int HScrollPos = 0;
  int LineHeight = 0;      // pixels of "A" in the fixed system font
  int CharWidth = 0;
  int VisibleLines = 0;    // whole lines in the client area, at most 1023
  int VisibleColumns = 0;  // whole columns in the client area, at most 511
};

extern EchoViewState EchoView;

// One-step moves of the view; true when the step was taken.
bool EchoLineUp();
bool EchoLineDown();
bool EchoColumnLeft();
bool EchoColumnRight();

// Outcome of a scroll message: where the bar goes, and what to redraw.
struct EchoScroll {
  bool handled = false;      // false: the message is not a scroll code we know
  bool moveBar = false;      // the bar moved to `position` (already stored)
  bool changed = false;      // the lines shown changed: invalidate with erasing
  int position = 0;
};

// Vertical scroll codes: 0 line up, 1 line down, 2 page up, 3 page down,
// 4/5 thumb (to `thumb`), 6 top, 7 bottom.
EchoScroll EchoVScroll(int code, int thumb);
// Horizontal: 0 left, 1 right, 2 page left, 3 page right, 4/5 thumb.
EchoScroll EchoHScroll(int code, int thumb);

// Calls draw(slot, row) for each line the window shows, starting at TopIndex
// and stopping at an empty slot or at the seam between the newest and the
// oldest lines. Returns the number of lines drawn.
template <typename Draw>
int EchoForEachShownLine(Draw draw);
int EchoShownLineCount();

// After a line was written, with `rows` whole rows in the client area: true
// when the window only needs repainting, false when it must scroll to the
// bottom and one line down (the newest line is out of view).
bool EchoRepaintOnly(int rows);

// The page sizes after a resize of the client area to width x height pixels.
void EchoResize(int clientWidth, int clientHeight);

// ---- implementation of the template ----
#include "echo.h"

template <typename Draw>
int EchoForEachShownLine(Draw draw) {
  int drawn = 0;
  int previousStamp = 0;
  for (int row = 0; row < kEchoRingSize; ++row) {
    const EchoLine& line = EchoRing[(EchoView.TopIndex + row) % kEchoRingSize];
    if (line.stamp == -1) break;
    if (row > 0 && line.stamp < previousStamp) break;
    previousStamp = line.stamp;
    draw((EchoView.TopIndex + row) % kEchoRingSize, row);
    ++drawn;
  }
  return drawn;
}
