// Ending a thread of the runtime: joined when it ends in time, ended by
// force when it does not, and never leaving a runtime lock held by a thread
// that runs no more. Any thread may call these for a thread it owns (not
// for itself).
#pragma once

#include <cstdint>

#include "os.h"

// Waits up to `graceMs` for `thread` to end (osThreadJoin); when it does
// not, ends it by force (ForceEndThread). True when the thread runs no code
// of the library any more; false only where the platform could not end it
// (POSIX: it never reached a cancellation point), and the caller must then
// leave everything the thread uses in place.
bool JoinOrEndThread(OsThread* thread, uint32_t graceMs);

// Ends `thread` by force and waits up to `waitMs` for it to be gone; every
// runtime lock it still held is freed then. True when it is gone.
bool ForceEndThread(OsThread* thread, uint32_t waitMs);
