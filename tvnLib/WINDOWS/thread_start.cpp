#include "thread_start.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace {

enum Stage : LONG { kCreated = 0, kEntered = 1, kCancelled = 2 };

}  // namespace

// One start; the code below reads it through the thread's parameter, so
// its first four fields are laid out as that code expects.
struct ThreadStart {
  std::atomic<LONG> stage;
  LPTHREAD_START_ROUTINE entry;
  void* exitThread;
  void* record;
  std::atomic<bool> used;
};

namespace {

static_assert(offsetof(ThreadStart, entry) == sizeof(void*) && offsetof(ThreadStart, exitThread) == 2 * sizeof(void*) &&
                  offsetof(ThreadStart, record) == 3 * sizeof(void*),
              "the start code reads these fields at these offsets");

// The start code, given the start as its only argument: enter the library
// (stage Created -> Entered, atomically) and go on at entry(record), or,
// when the start was cancelled, ExitThread(0).
#if defined(__i386__)
const unsigned char kCode[] = {
    0x8B, 0x4C, 0x24, 0x04,        // mov ecx, [esp+4]       the start
    0x31, 0xC0,                    // xor eax, eax           expected: Created
    0xBA, 0x01, 0x00, 0x00, 0x00,  // mov edx, 1             Entered
    0xF0, 0x0F, 0xB1, 0x11,        // lock cmpxchg [ecx], edx
    0x75, 0x0A,                    // jne cancelled
    0x8B, 0x41, 0x0C,              // mov eax, [ecx+12]      record
    0x89, 0x44, 0x24, 0x04,        // mov [esp+4], eax       the argument of entry
    0xFF, 0x61, 0x04,              // jmp [ecx+4]            entry(record)
    0x6A, 0x00,                    // cancelled: push 0
    0xFF, 0x51, 0x08,              // call [ecx+8]           ExitThread(0)
};
#elif defined(__x86_64__)
const unsigned char kCode[] = {
    0x31, 0xC0,                    // xor eax, eax           expected: Created
    0xBA, 0x01, 0x00, 0x00, 0x00,  // mov edx, 1             Entered
    0xF0, 0x0F, 0xB1, 0x11,        // lock cmpxchg [rcx], edx
    0x75, 0x0B,                    // jne cancelled
    0x4C, 0x8B, 0x41, 0x08,        // mov r8, [rcx+8]        entry
    0x48, 0x8B, 0x49, 0x18,        // mov rcx, [rcx+24]      record
    0x41, 0xFF, 0xE0,              // jmp r8                 entry(record)
    0x48, 0x8B, 0x41, 0x10,        // cancelled: mov rax, [rcx+16]
    0x31, 0xC9,                    // xor ecx, ecx
    0xFF, 0xE0,                    // jmp rax                ExitThread(0)
};
#else
#error "the thread start code needs the processor's instructions"
#endif

constexpr size_t kPage = 4096;
constexpr int kStarts = static_cast<int>(kPage / sizeof(ThreadStart));

class Starts {
 public:
  // ExitThread is looked up while the library is loaded (the loader's lock
  // is the loading thread's own then), never on a thread of the library.
  Starts()
      : m_exitThread(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitThread"))) {}
  ~Starts() {
    if (m_code == nullptr) return;
    for (int i = 0; i < kStarts; ++i)
      if (m_starts[i].used.load()) return;  // a cancelled thread may still come
    VirtualFree(m_code, 0, MEM_RELEASE);
    VirtualFree(m_starts, 0, MEM_RELEASE);
  }

  ThreadStart* Take(LPTHREAD_START_ROUTINE entry, void* record) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_exitThread == nullptr || (m_code == nullptr && !Allocate())) return nullptr;
    for (int i = 0; i < kStarts; ++i) {
      ThreadStart& start = m_starts[i];
      if (start.used.load()) continue;
      start.used.store(true);
      start.stage.store(kCreated);
      start.entry = entry;
      start.exitThread = m_exitThread;
      start.record = record;
      return &start;
    }
    return nullptr;
  }

  LPTHREAD_START_ROUTINE Routine() const { return reinterpret_cast<LPTHREAD_START_ROUTINE>(m_code); }

 private:
  bool Allocate() {
    void* code = VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    void* data = VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD old = 0;
    if (code == nullptr || data == nullptr) {
      if (code != nullptr) VirtualFree(code, 0, MEM_RELEASE);
      if (data != nullptr) VirtualFree(data, 0, MEM_RELEASE);
      return false;
    }
    std::memcpy(code, kCode, sizeof kCode);
    VirtualProtect(code, kPage, PAGE_EXECUTE_READ, &old);
    FlushInstructionCache(GetCurrentProcess(), code, kPage);
    m_code = code;
    m_starts = static_cast<ThreadStart*>(data);  // zeroed by the system: every start free
    return true;
  }

  void* const m_exitThread;
  std::mutex m_lock;
  void* m_code = nullptr;
  ThreadStart* m_starts = nullptr;
};

Starts g_starts;

}  // namespace

ThreadStart* ThreadStartTake(LPTHREAD_START_ROUTINE entry, void* record) { return g_starts.Take(entry, record); }

LPTHREAD_START_ROUTINE ThreadStartRoutine() { return g_starts.Routine(); }

bool ThreadStartEntered(const ThreadStart* start) { return start->stage.load() == kEntered; }

bool ThreadStartCancel(ThreadStart* start) {
  LONG expected = kCreated;
  return start->stage.compare_exchange_strong(expected, kCancelled) || expected == kCancelled;
}

void ThreadStartRelease(ThreadStart* start) { start->used.store(false); }
