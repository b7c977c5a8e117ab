// Where a thread of the library begins: a few instructions in memory of
// their own, outside the library's image, with the word that says whether
// the thread may enter the library. A thread that is still held in the
// system's thread start when the library is unloaded (it waits for the
// loader lock, which the unload holds) finds its start cancelled there
// later and leaves through ExitThread, without running one instruction of
// the library, and without being ended by force (ending a thread that waits
// for a lock of the system's corrupts that lock). Win32 files only.
//
// The starts of a process live in one page of code and one of data,
// allocated at the first thread and released when the library's statics go,
// unless a cancelled thread may still come (then they stay, as they must).
// Any thread may take, cancel and release starts; the page's lock is held
// for a slot search only.
#pragma once

#include "win_common.h"

struct ThreadStart;

// A start that runs entry(record) on its thread unless cancelled first;
// null when none is left (the caller then starts at entry directly).
ThreadStart* ThreadStartTake(LPTHREAD_START_ROUTINE entry, void* record);
// The routine to give CreateThread, with the start as its parameter.
LPTHREAD_START_ROUTINE ThreadStartRoutine();

// True when the thread has entered the library.
bool ThreadStartEntered(const ThreadStart* start);
// Makes the thread leave without entering; false when it has entered.
bool ThreadStartCancel(ThreadStart* start);
// The thread is gone (it entered and ended, or it was ended by force after
// it entered): the start is free again. A cancelled start whose thread may
// still come is never released.
void ThreadStartRelease(ThreadStart* start);
