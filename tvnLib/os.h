// The platform contract of the runtime library.
//
// Everything the driver needs from the operating system, apart from sockets
// (os_net.h), is declared here. Exactly one implementation folder is compiled
// into a build: tvnLib/WINDOWS/ (Win32) or tvnLib/POSIX/ (Linux). Shared code
// includes only this header and never a system header of either platform.
//
// Handles are opaque pointers; a null handle means "none". Unless a comment
// says otherwise every operation may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------- time

// Milliseconds since a fixed origin (system start on Windows, an arbitrary
// monotonic origin on POSIX). Wraps after 2^32 ms, like GetTickCount.
uint32_t osTickCountMs();

// Sleeps for `ms` milliseconds. 0 yields the processor once.
// REQUIRES: ms >= 0, or ms == -1 which sleeps for ever.
void osSleepMs(int32_t ms);

// ---------------------------------------------------------------- process

// Ends the whole process at once with `code`. No static destructor runs.
[[noreturn]] void osExitProcess(int code);

// Shows a modal message with one OK button on Windows (the calling thread
// waits until it is closed). On POSIX writes "caption: text" as one line to
// standard error and returns at once.
void osMessageBox(const char* text, const char* caption);

// The calling thread's last system error (GetLastError / errno) and a way to
// clear it before a call whose failure is to be reported.
uint32_t osLastError();
void osClearLastError();

// The host executable's module (the instance the echo window is registered
// under) and the system's application icon. Null on POSIX.
void* osHostInstance();
void* osLogoIcon();

// ---------------------------------------------------------------- thread-local slot

constexpr uint32_t kOsTlsInvalid = 0xFFFFFFFFu;

// Allocates one slot; kOsTlsInvalid when none is left.
uint32_t osTlsAlloc();
// REQUIRES: index came from osTlsAlloc and was not freed.
void osTlsFree(uint32_t index);
// Each thread sees its own value; a thread that never set one reads null.
// REQUIRES: index valid.
void osTlsSet(uint32_t index, void* value);
void* osTlsGet(uint32_t index);

// ---------------------------------------------------------------- thread identity

// The calling thread's platform id; never 0. Cheap (no system call after a
// thread's first use).
uint32_t osCurrentThreadId();

// ---------------------------------------------------------------- events and waits

using OsHandle = void*;

// An unnamed event. Null when the system refuses (the caller carries on
// without one).
OsHandle osEventCreate(bool manualReset, bool initiallySet);
bool osEventSet(OsHandle event);
bool osEventReset(OsHandle event);

enum OsWaitResult { kOsWaitSignaled = 0, kOsWaitTimeout = 1, kOsWaitFailed = 2 };
constexpr uint32_t kOsInfinite = 0xFFFFFFFFu;

// Waits until `handle` is signalled or `timeoutMs` passed (kOsInfinite: no
// limit, 0: poll). A null or closed handle gives kOsWaitFailed at once.
OsWaitResult osWait(OsHandle handle, uint32_t timeoutMs);

// Releases one count of a semaphore; false for anything that is not one.
bool osReleaseSemaphore(OsHandle handle);

// REQUIRES: handle from osEventCreate, no thread waiting on it.
void osCloseHandle(OsHandle handle);

// ---------------------------------------------------------------- threads

// A platform thread. Created by osThreadCreate, released by osThreadClose.
//
// How a thread ends matters at unload: once a library's unload has begun
// (Windows: the caller holds the loader lock), a new thread can never run,
// and an ending thread cannot leave the system's thread exit. So every
// thread of the library is joined with osThreadJoin, which never waits on
// either, and no thread is created from then on (osStopCreatingThreads).
struct OsThread;
using OsThreadEntry = void (*)(void* arg);

// Starts `entry(arg)` on a new thread with `stackSize` bytes of stack (0: the
// platform default). With `suspended` the thread does not run until the first
// osThreadResume. Null when the thread cannot be created (osLastError says
// why), and always once osStopCreatingThreads(true) was called. *threadId
// receives the platform's thread id when not null.
OsThread* osThreadCreate(OsThreadEntry entry, void* arg, uint32_t stackSize, bool suspended,
                         uint32_t* threadId);

// From now on (stop) or again (!stop) osThreadCreate refuses every thread;
// the library's detach stops them, since a thread made then could never
// run. Implemented once, in shared code (refusals.cpp).
void osStopCreatingThreads(bool stop);
bool osCreatingThreadsStopped();

// The thread's platform id, as osThreadCreate reported it.
uint32_t osThreadId(const OsThread* thread);

// Resumes a thread once. Returns false when the platform refuses.
bool osThreadResume(OsThread* thread);

// Suspends a thread once. POSIX cannot suspend another thread and always
// returns false with osLastError() == ENOTSUP.
bool osThreadSuspend(OsThread* thread);

// Sets or reads a thread's priority on the Win32 scale (-15, -2..2, 15; 0 is
// normal). On POSIX the value maps to the thread's nice value; raising it
// needs privileges: without them the value is still kept and read back
// unchanged, and the echo says once that it is not applied.
bool osThreadSetPriority(OsThread* thread, int priority);
bool osThreadGetPriority(OsThread* thread, int* priority);

// Turns off the platform's dynamic priority boost (Windows only).
void osThreadDisableBoost(OsThread* thread);

// Names the thread for debuggers and system tools where the platform can.
// Makes no call into the system's loader (the look-up it needs is done
// once, when the library is loaded).
void osThreadSetDebugName(OsThread* thread, const char* name);

// Waits up to `timeoutMs` (kOsInfinite: no limit) until the thread runs no
// code of the library any more, and true then; false while its entry
// routine still runs. A thread that has not begun its entry routine never
// begins it: it is stopped at once (one that cannot run at all is ended by
// force). A thread whose entry routine has returned but which cannot finish
// leaving (Windows: its exit waits for the loader lock, held during the
// library's unload or by a host that calls from its own library entry) is
// ended by force, as it has nothing left to do. Never waits on the loader.
bool osThreadJoin(OsThread* thread, uint32_t timeoutMs);

// True once the thread has begun its entry routine.
bool osThreadEntered(const OsThread* thread);

// Ends a thread by force. Windows: TerminateThread, the thread runs no
// further code; the locks it holds stay held (see ForceEndThread in
// thread_end.h, which releases the runtime's). POSIX: a deferred
// cancellation, so the thread ends at its next cancellation point (a wait,
// a sleep, a socket call) and unwinds its stack, releasing scoped locks; a
// thread that never reaches one cannot be ended. Use osThreadJoin to see it
// gone.
void osThreadTerminate(OsThread* thread);

// Call first in a catch-all handler on a thread that may be ended by force:
// where the platform ends threads by unwinding them (POSIX cancellation),
// rethrows that unwind so that it is never swallowed; otherwise returns.
// REQUIRES: called inside a catch handler.
void osPassForcedUnwind();

// Releases the thread record. A thread that is still running (it could not
// be joined, not even after osThreadTerminate) keeps its record, and the
// library's code stays loaded for it (POSIX: the library is never unmapped
// from then on), so that it never runs in freed or unmapped memory.
void osThreadClose(OsThread* thread);

// ---------------------------------------------------------------- registry (read only)

enum class OsRegRoot { CurrentUser, LocalMachine };
using OsRegKey = void*;

// Opens `path` under `root`; null when it does not open. With readAccess the
// key is opened for reading only (RegOpenKeyExA, KEY_READ), without it with
// the platform's plain open (RegOpenKeyA). POSIX reads the registry file
// (PVTRIVANE_REGISTRY, else $XDG_CONFIG_HOME/pvtrivane/registry.reg, else
// ~/.config/pvtrivane/registry.reg) afresh at every open.
OsRegKey osRegOpen(OsRegRoot root, const char* path, bool readAccess);
void osRegClose(OsRegKey key);

// Reads value `name` of `key`. With data null only *size is set to the
// value's size in bytes. Otherwise copies at most *size bytes and sets *size
// to the bytes copied. A text value's bytes include its terminator; a dword
// is 4 bytes. False when the value does not exist or does not fit.
bool osRegQueryValue(OsRegKey key, const char* name, void* data, uint32_t* size);

// Name of subkey number `index` (0 upward) into name[0..capacity); false
// when there is no such subkey or the name does not fit.
bool osRegEnumKey(OsRegKey key, uint32_t index, char* name, uint32_t capacity);

// ---------------------------------------------------------------- host memory

// True when every byte of [p, p + n) can be read right now. Used to check
// buffers that the host passes before the driver reads them. n == 0 is true.
bool osMemoryReadable(const void* p, size_t n);

// ---------------------------------------------------------------- dynamic libraries (tools and tests)

using OsLibrary = void*;
OsLibrary osLibraryOpen(const char* path);        // null on failure
void* osLibrarySymbol(OsLibrary lib, const char* name);
void osLibraryClose(OsLibrary lib);
const char* osLibraryError();                     // text for the last failure

// ---------------------------------------------------------------- console interrupt (tools)

// Calls `handler` (on an unspecified thread) when the user presses Ctrl-C.
void osOnInterrupt(void (*handler)());

// Calls `handler` when the process receives the user signal SIGUSR1 (POSIX;
// Windows has no such signal and never calls it). Signal context as above.
void osOnUserSignal(void (*handler)());

// ---------------------------------------------------------------- message loop (tools)

// Waits `ms` milliseconds while dispatching the calling thread's window
// messages, as a host's message loop does (the echo window belongs to the
// thread that loaded the driver); POSIX has none and sleeps.
void osPumpMessages(uint32_t ms);

// ---------------------------------------------------------------- environment (tools and tests)

// Sets or reads an environment variable of this process (the system's own,
// which every module of the process sees). Reading: false when unset or
// when it does not fit into out[0..capacity).
void osSetEnvironment(const char* name, const char* value);
bool osGetEnvironment(const char* name, char* out, size_t capacity);

// True where the settings are a file (POSIX), false where they are the
// system registry (Windows).
bool osRegistryIsFile();

// Where the settings are read from, as text for people: the settings file's
// path (POSIX) or "the Windows registry"; *exists says whether that file
// is there (always true on Windows).
void osRegistryLocation(char* out, size_t capacity, bool* exists);

// Makes the calling thread's next `count` creations of events
// (osEventCreate, hence the runtime's locks too, which each need one),
// threads (osThreadCreate) and, on Windows, socket wait events fail as when
// the system is out of resources, so that tests can reach the paths that
// handle it; other threads' creations are not affected. 0 ends it.
// Implemented once, in shared code (refusals.cpp).
void osRefuseCreations(int count);

// ---------------------------------------------------------------- library entry

// Implemented by the driver, called by the platform's library entry point:
// attach once when the library is loaded (false refuses the load where the
// platform can refuse), detach once when it is unloaded. `processEnding` is
// true when the process itself is ending (the other threads are already
// gone on Windows), false for an orderly unload.
bool DriverProcessAttach();
void DriverProcessDetach(bool processEnding);
