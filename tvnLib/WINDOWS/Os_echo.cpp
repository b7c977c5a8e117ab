// The echo window on Win32: a plain top-level window that shows the echo
// ring in the fixed system font with scroll bars. The scroll and paint rules
// are echo_view.cpp's; this file only turns messages into calls to them.
//
// The window belongs to the thread that created it (the host's loader
// thread) and is served by that thread's message loop. Writers on other
// threads only invalidate it or post messages to it, never wait for it.
#include "win_common.h"

#include <cstdio>
#include <cstring>

#include "../echo.h"
#include "../echo_view.h"

namespace {

const char kClassName[] = "TVN_ECHO_WINDOW";
HINSTANCE g_classInstance = nullptr;
// Asks the window's own thread to destroy it (DestroyWindow works there only).
constexpr UINT kDestroyMessage = WM_APP + 1;
// How long EchoDestroy waits for the window's thread to do so.
constexpr UINT kDestroyWaitMs = 1000;
// The system's default window procedure in the system's own module (not a
// stub of this library), looked up when the window is made.
FARPROC g_systemDefaultProc = nullptr;

HWND Wnd() { return static_cast<HWND>(EchoWnd.load()); }

void Apply(HWND hwnd, int bar, const EchoScroll& scroll) {
  if (!scroll.handled) return;
  if (scroll.moveBar) SetScrollPos(hwnd, bar, scroll.position, TRUE);
  if (scroll.changed) InvalidateRect(hwnd, nullptr, TRUE);
}

void SetPage(HWND hwnd, int bar, int page) {
  SCROLLINFO info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SIF_PAGE;
  info.nPage = static_cast<UINT>(page);
  SetScrollInfo(hwnd, bar, &info, TRUE);
}

void OnCreate(HWND hwnd) {
  HDC dc = GetDC(hwnd);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  SetBkMode(dc, TRANSPARENT);
  SIZE size;
  if (GetTextExtentPoint32A(dc, "A", 1, &size)) {
    EchoView.CharWidth = size.cx;
    EchoView.LineHeight = size.cy;
  }
  ReleaseDC(hwnd, dc);
  SetScrollRange(hwnd, SB_VERT, 0, kEchoRingSize - 1, FALSE);
  SetScrollRange(hwnd, SB_HORZ, 0, kEchoTextSize - 1, FALSE);
}

void OnPaint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  const bool painted = EchoLocked(50, [&] {
    const int first = EchoView.FirstColumn;
    EchoForEachShownLine([&](int slot, int row) {
      const EchoLine& line = EchoRing[slot];
      const int length = static_cast<int>(strnlen(line.text, kEchoTextSize));
      if (length <= first) return;
      SetTextColor(dc, line.colour);
      TextOutA(dc, 0, row * EchoView.LineHeight, line.text + first, length - first);
    });
  });
  EndPaint(hwnd, &ps);
  if (!painted) InvalidateRect(hwnd, nullptr, FALSE);  // the ring was busy: again later
}

// Runs a scroll action on the view under the echo lock and applies it. A
// writer that keeps the lock busy only delays the action: the message is
// posted again and the input is never lost.
template <typename Action>
void Scroll(HWND hwnd, UINT message, WPARAM wp, LPARAM lp, int bar, Action action) {
  EchoScroll scroll;
  if (EchoLocked(50, [&] { scroll = action(); })) {
    Apply(hwnd, bar, scroll);
  } else {
    PostMessageA(hwnd, message, wp, lp);
  }
}

// The page sizes last set, kept on the window's thread, so that a busy
// writer never costs the window its geometry.
int g_pageLines = 0;
int g_pageColumns = 0;

LRESULT CALLBACK EchoWindowProc(HWND hwnd, UINT message, WPARAM wp, LPARAM lp) {
  switch (message) {
    case WM_CREATE:
      OnCreate(hwnd);
      break;
    case WM_SIZE:
      if (Wnd() != nullptr) {
        const bool resized = EchoLocked(50, [&] {
          EchoResize(LOWORD(lp), HIWORD(lp));
          g_pageLines = EchoView.VisibleLines;
          g_pageColumns = EchoView.VisibleColumns;
        });
        // Busy: keep the last pages and take the new size a moment later.
        if (!resized) PostMessageA(hwnd, WM_SIZE, wp, lp);
        SetPage(hwnd, SB_VERT, g_pageLines);
        SetPage(hwnd, SB_HORZ, g_pageColumns);
      }
      return 1;
    case WM_PAINT:
      OnPaint(hwnd);
      return 0;
    case WM_CLOSE:
      ShowWindow(hwnd, SW_HIDE);
      return 1;
    case kDestroyMessage:
      DestroyWindow(hwnd);
      return 1;
    case WM_KEYDOWN: {
      int code = -1;
      switch (wp) {
        case VK_PRIOR: code = 2; break;
        case VK_NEXT: code = 3; break;
        case VK_END: code = 7; break;
        case VK_HOME: code = 6; break;
        default: break;
      }
      if (code < 0) break;
      Scroll(hwnd, message, wp, lp, SB_VERT, [code] { return EchoVScroll(code, 0); });
      return 1;
    }
    case WM_MOUSEWHEEL: {
      const short delta = static_cast<short>(HIWORD(wp));
      Scroll(hwnd, message, wp, lp, SB_VERT, [delta] { return EchoVScroll(delta > 0 ? 0 : 1, 0); });
      return 1;
    }
    case WM_VSCROLL:
      Scroll(hwnd, message, wp, lp, SB_VERT, [wp] { return EchoVScroll(LOWORD(wp), static_cast<short>(HIWORD(wp))); });
      break;
    case WM_HSCROLL:
      Scroll(hwnd, message, wp, lp, SB_HORZ, [wp] { return EchoHScroll(LOWORD(wp), static_cast<short>(HIWORD(wp))); });
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wp, lp);
}

}  // namespace

int EchoCreate(const char* title, void* instance, void* icon) {
  if (Wnd() != nullptr) return 0;
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof wc);
  wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = EchoWindowProc;
  wc.hInstance = static_cast<HINSTANCE>(instance);
  wc.hIcon = static_cast<HICON>(icon);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kClassName;
  // A class left behind by an earlier load whose window outlived it points
  // at code that is gone: replaced, or no window at all.
  if (RegisterClassA(&wc) == 0 && !(UnregisterClassA(kClassName, wc.hInstance) && RegisterClassA(&wc) != 0))
    return 0;
  g_classInstance = wc.hInstance;
  g_systemDefaultProc = GetProcAddress(GetModuleHandleA("user32.dll"), "DefWindowProcA");
  HWND hwnd = CreateWindowExA(0, kClassName, title, WS_OVERLAPPEDWINDOW | WS_VSCROLL | WS_HSCROLL, 0, 0, 0,
                              0, nullptr, nullptr, wc.hInstance, nullptr);
  if (hwnd == nullptr) {
    UnregisterClassA(kClassName, g_classInstance);
    return 0;
  }
  EchoWnd.store(hwnd);
  return 1;
}

int EchoShow(int command) {
  HWND hwnd = Wnd();
  if (hwnd == nullptr) return 0;
  // Another thread never sends to the window and waits: the window's thread
  // may itself be waiting for that thread (an assertion during Disconnect).
  if (GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) {
    const int shows[] = {SW_HIDE, SW_RESTORE, SW_RESTORE, SW_MAXIMIZE, SW_RESTORE, SW_RESTORE, SW_MINIMIZE};
    ShowWindowAsync(hwnd, command >= 0 && command <= 6 ? shows[command] : SW_RESTORE);
    if (command != 0 && command != 3 && command != 6)
      SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOMOVE | SWP_NOSIZE);
    return 1;
  }
  switch (command) {
    case 0: ShowWindow(hwnd, SW_HIDE); break;
    case 3: ShowWindow(hwnd, SW_MAXIMIZE); break;
    case 6: ShowWindow(hwnd, SW_MINIMIZE); break;
    default:
      ShowWindow(hwnd, SW_RESTORE);
      BringWindowToTop(hwnd);
      break;
  }
  return 1;
}

int EchoMove(int x, int y, int width, int height) {
  HWND hwnd = Wnd();
  if (hwnd == nullptr) return 0;
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER) ? 1 : 0;
}

// Runs at unload, perhaps on another thread than the window's: the window
// must not outlive the library with a procedure in it. Its own thread
// destroys it when it answers in time; otherwise the window is hidden and
// handed the system's default procedure, which needs nothing of the library.
int EchoDestroy() {
  HWND hwnd = Wnd();
  if (hwnd == nullptr || !IsWindow(hwnd)) return 0;
  EchoWnd.store(nullptr);  // no line touches it from here on
  if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(hwnd);
  } else {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, kDestroyMessage, 0, 0, SMTO_ABORTIFHUNG, kDestroyWaitMs, &result);
  }
  if (IsWindow(hwnd) && g_systemDefaultProc != nullptr) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_systemDefaultProc));
    ShowWindowAsync(hwnd, SW_HIDE);
  }
  // The class points at this library's window procedure: unregister it so
  // that a later load in the same process registers it afresh.
  UnregisterClassA(kClassName, g_classInstance);
  return 1;
}

// Runs under the echo lock (EchoWriteLine).
void OsEchoLineStored(const EchoLine& line) {
  // With PVTRIVANE_ECHO_STDERR set, each line also goes to standard error:
  // for console programs and tests, as a host's window has none.
  if (GetEnvironmentVariableA("PVTRIVANE_ECHO_STDERR", nullptr, 0) != 0) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(strnlen(line.text, kEchoTextSize)), line.text);
    std::fflush(stderr);
  }
  HWND hwnd = Wnd();
  if (hwnd == nullptr || !IsWindow(hwnd) || IsIconic(hwnd)) return;
  RECT client;
  GetClientRect(hwnd, &client);
  const int rows = EchoView.LineHeight > 0 ? client.bottom / EchoView.LineHeight : 0;
  if (EchoRepaintOnly(rows)) {
    InvalidateRect(hwnd, nullptr, FALSE);
  } else {
    PostMessageA(hwnd, WM_VSCROLL, SB_BOTTOM, 0);
    PostMessageA(hwnd, WM_VSCROLL, SB_LINEDOWN, 0);
  }
}
