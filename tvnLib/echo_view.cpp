#include "echo_view.h"

#include <algorithm>

EchoViewState EchoView;

namespace {

int Wrap(int slot) { return (slot % kEchoRingSize + kEchoRingSize) % kEchoRingSize; }

int VMax() { return kEchoRingSize - EchoView.VisibleLines; }
int HMax() { return kEchoTextSize - EchoView.VisibleColumns; }

// Repeats `step` n times; true when any of the steps was taken.
template <typename Step>
bool Repeat(int n, Step step) {
  bool any = false;
  for (int i = 0; i < n; ++i) any = step() || any;
  return any;
}

EchoScroll Finish(int position, bool changed, int& stored) {
  EchoScroll result;
  result.handled = true;
  result.changed = changed;
  result.position = position;
  if (position != stored) {
    result.moveBar = true;
    stored = position;
  }
  return result;
}

}  // namespace

bool EchoLineUp() {
  const EchoLine& top = EchoRing[EchoView.TopIndex];
  const int before = Wrap(EchoView.TopIndex - 1);
  const EchoLine& candidate = EchoRing[before];
  if (candidate.stamp == -1 || candidate.stamp > top.stamp) return false;
  EchoView.TopIndex = before;
  return true;
}

bool EchoLineDown() {
  const EchoLine& top = EchoRing[EchoView.TopIndex];
  const int after = Wrap(EchoView.TopIndex + 1);
  const EchoLine& candidate = EchoRing[after];
  if (candidate.stamp == -1 || candidate.stamp < top.stamp) return false;
  EchoView.TopIndex = after;
  return true;
}

bool EchoColumnLeft() {
  if (EchoView.FirstColumn - 1 < 0) return false;
  --EchoView.FirstColumn;
  return true;
}

bool EchoColumnRight() {
  if (EchoView.FirstColumn + 1 >= kEchoTextSize) return false;
  ++EchoView.FirstColumn;
  return true;
}

EchoScroll EchoVScroll(int code, int thumb) {
  const int pos = EchoView.VScrollPos;
  const int max = VMax();
  bool changed = false;
  int next = pos;
  switch (code) {
    case 0:
      if (pos <= 0) break;
      changed = EchoLineUp();
      next = pos - 1;
      break;
    case 1:
      changed = EchoLineDown();
      next = std::min(pos + 1, max);
      break;
    case 2:
      if (pos <= 0) break;
      next = std::max(pos - EchoView.VisibleLines, 0);
      changed = Repeat(pos - next, EchoLineUp);
      break;
    case 3:
      if (pos >= max) break;
      next = std::min(pos + EchoView.VisibleLines, max);
      changed = Repeat(next - pos, EchoLineDown);
      break;
    case 4:
    case 5: {
      int at = pos;
      if (thumb < pos) {
        while (at > thumb) {
          if (at - 1 <= 0) {
            at = 0;
            break;
          }
          changed = EchoLineUp() || changed;
          --at;
        }
      } else {
        while (at < thumb) {
          if (at + 1 >= max) {
            at = at + 1;
            break;
          }
          changed = EchoLineDown() || changed;
          ++at;
        }
      }
      next = at;
      break;
    }
    case 6: {
      const int before = EchoView.TopIndex;
      EchoView.TopIndex = EchoWrapped() ? Wrap(EchoWriteIndex() + 1) : 0;
      changed = EchoView.TopIndex != before;
      next = 0;
      break;
    }
    case 7: {
      const int before = EchoView.TopIndex;
      if (!EchoWrapped()) {
        EchoView.TopIndex = std::max(EchoWriteIndex() - EchoView.VisibleLines, 0);
        next = EchoView.TopIndex;
      } else {
        EchoView.TopIndex = Wrap(EchoWriteIndex() - EchoView.VisibleLines);
        next = kEchoRingSize - 1 - EchoView.VisibleLines;
      }
      changed = EchoView.TopIndex != before;
      break;
    }
    default: {
      EchoScroll ignored;
      return ignored;
    }
  }
  return Finish(next, changed, EchoView.VScrollPos);
}

EchoScroll EchoHScroll(int code, int thumb) {
  const int pos = EchoView.HScrollPos;
  const int max = HMax();
  bool changed = false;
  int next = pos;
  switch (code) {
    case 0:
      changed = EchoColumnLeft();
      next = std::max(pos - 1, 0);
      break;
    case 1:
      changed = EchoColumnRight();
      next = std::min(pos + 1, max);
      break;
    case 2:
      changed = Repeat(pos, EchoColumnLeft);
      next = 0;
      break;
    case 3:
      if (pos < max) changed = Repeat(max - pos, EchoColumnRight);
      next = max;
      break;
    case 4:
    case 5:
      changed = thumb < pos ? Repeat(pos - thumb, EchoColumnLeft) : Repeat(thumb - pos, EchoColumnRight);
      next = thumb;
      break;
    default: {
      EchoScroll ignored;
      return ignored;
    }
  }
  return Finish(next, changed, EchoView.HScrollPos);
}

int EchoShownLineCount() {
  return EchoForEachShownLine([](int, int) {});
}

bool EchoRepaintOnly(int rows) {
  const int d = EchoWriteIndex() - EchoView.TopIndex;
  return d >= 0 && d <= rows && d >= EchoView.VisibleLines;
}

void EchoResize(int clientWidth, int clientHeight) {
  if (EchoView.LineHeight > 0)
    EchoView.VisibleLines = std::min(clientHeight / EchoView.LineHeight, kEchoRingSize - 1);
  if (EchoView.CharWidth > 0)
    EchoView.VisibleColumns = std::min(clientWidth / EchoView.CharWidth, kEchoTextSize - 1);
}
