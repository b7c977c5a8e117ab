// The echo: a ring of the last 1024 diagnostic lines, each stamped with the
// seconds since load and the writing task's name.
//
// The ring and its view are process-wide and written from every thread of
// the driver, under one lock: a writer formats straight into its slot
// without allocating. A writer that cannot have the lock within a fifth of
// a second drops its line rather than stall the driver. Writing a line
// takes nothing else: no lock of a task, nothing that may block (the POSIX
// sink drops a line that standard error cannot take at once). The window
// (Os_echo, one per platform) shows the ring under the same lock; its
// scroll model is echo_view.h.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "logFile.h"

constexpr int kEchoRingSize = 1024;
constexpr int kEchoTextSize = 512;
constexpr uint32_t kEchoWhite = 0x00FFFFFFu;
constexpr uint32_t kEchoYellow = 0x0000FFFFu;

struct EchoLine {
  uint32_t colour;
  char text[kEchoTextSize];
  int32_t stamp;  // tickNow() when written; -1 marks a slot never written
};

extern EchoLine EchoRing[kEchoRingSize];

// The window's handle; null while there is no window (then EchoPrint does
// nothing at all). Set by EchoCreate, cleared by EchoDestroy.
extern std::atomic<void*> EchoWnd;

// Slot that the next line goes to (0..1023), and whether slot 1023 has ever
// been written.
int EchoWriteIndex();
int EchoWrapped();

// Formats a yellow line into the ring when the window exists.
void EchoPrint(const char* format, ...) TVN_PRINTF(1, 2);

// Writes one line: colour (or -1 to keep the slot's colour), stamp, prefix,
// then the message cut to fit the slot. Then lets the window know.
void EchoWriteLine(int64_t colour, const char* format, va_list args);

// Writes "SSS.mmm NAME: " (seconds since load, the calling task's name cut
// or padded to `width`, "????" for a thread that is no task) into `text`
// (room for kEchoTextSize characters); returns the characters written.
int EchoPrefix(char* text, int width);

// The name shown for the calling thread's lines (null: "????"); a task sets
// its own name while its thread runs. The text must outlive the setting.
void EchoSetThreadName(const char* name);

// Empties the ring and the window state (library load, and tests).
void EchoReset();

// Runs `reader` with the ring and the view locked, when the lock can be had
// within `waitMs`; false when it could not.
bool EchoLocked(int waitMs, void (*reader)(void* context), void* context);
template <typename Reader>
bool EchoLocked(int waitMs, Reader&& reader) {
  return EchoLocked(waitMs, [](void* r) { (*static_cast<Reader*>(r))(); }, &reader);
}

// ---- the window, one implementation per platform (Os_echo) ----

// Creates the window unless it exists; 1 when created.
int EchoCreate(const char* title, void* instance, void* icon);
// 0 hide, 3 maximise, 6 minimise, 9 (and any other value) restore and raise.
// 1 when the window exists.
int EchoShow(int command);
// Moves and sizes the window; 0 when there is none.
int EchoMove(int x, int y, int width, int height);
// Destroys the window; 1 when there was one.
int EchoDestroy();

// Called by EchoWriteLine after a line was stored (the window repaints or
// scrolls to it; the POSIX sink writes it to standard error).
void OsEchoLineStored(const EchoLine& line);
