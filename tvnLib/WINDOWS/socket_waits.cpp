#include "socket_waits.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "../refusals.h"

namespace {

// What the process knows of one socket beyond its handle.
struct SocketState {
  SocketState()
      : data(CreationRefused() ? WSA_INVALID_EVENT : WSACreateEvent()),
        wake(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~SocketState() {
    if (data != WSA_INVALID_EVENT) WSACloseEvent(data);
    if (wake != nullptr) CloseHandle(wake);
  }
  SocketState(const SocketState&) = delete;
  SocketState& operator=(const SocketState&) = delete;

  WSAEVENT data;  // set by the system when a datagram arrives, once registered
  HANDLE wake;    // set by WakeSocket
  std::atomic<bool> woken{false};
  std::atomic<bool> registered{false};  // WSAEventSelect done: the socket is non-blocking since
  std::atomic<int> receiveTimeoutMs{0};
};

std::mutex g_lock;
std::map<SOCKET, std::shared_ptr<SocketState>> g_states;

std::shared_ptr<SocketState> StateOf(SOCKET s, bool create) {
  std::lock_guard<std::mutex> lock(g_lock);
  const auto it = g_states.find(s);
  if (it != g_states.end()) return it->second;
  if (!create) return nullptr;
  std::shared_ptr<SocketState> state = std::make_shared<SocketState>();
  g_states.emplace(s, state);
  return state;
}

// A failed wait always says why.
int Failed(int error) {
  WSASetLastError(error != 0 ? error : WSAENOBUFS);
  return -1;
}

// 1 when a datagram can be read now, 0 when not, -1 on failure.
int ReadableNow(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval none{0, 0};
  const int result = select(0, &set, nullptr, nullptr, &none);
  if (result == SOCKET_ERROR) return -1;
  return FD_ISSET(s, &set) ? 1 : 0;
}

int Woken() { return Failed(WSAEINTR); }

}  // namespace

void WakeSocket(SOCKET s) {
  const std::shared_ptr<SocketState> state = StateOf(s, true);
  state->woken = true;
  SetEvent(state->wake);
}

void ForgetSocket(SOCKET s) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_states.erase(s);
}

bool SocketWoken(SOCKET s) {
  const std::shared_ptr<SocketState> state = StateOf(s, false);
  return state != nullptr && state->woken;
}

void RememberReceiveTimeout(SOCKET s, int ms) { StateOf(s, true)->receiveTimeoutMs = ms; }

int ReceiveTimeoutMs(SOCKET s) {
  const std::shared_ptr<SocketState> state = StateOf(s, false);
  return state != nullptr ? state->receiveTimeoutMs.load() : 0;
}

namespace {

// The wait itself; `check` first looks whether a datagram is there already,
// `verify` looks again after the system's event, which may stand for a
// datagram already taken.
int Wait(SOCKET s, int64_t timeoutUs, bool check, bool verify) {
  const std::shared_ptr<SocketState> state = StateOf(s, true);
  if (state->woken) return Woken();
  if (check) {
    const int now = ReadableNow(s);
    if (now != 0 || timeoutUs == 0) return now;
  }
  if (state->data == WSA_INVALID_EVENT || state->wake == nullptr) return Failed(WSAENOBUFS);
  if (!state->registered.exchange(true)) {
    if (WSAEventSelect(s, state->data, FD_READ | FD_CLOSE) != 0) {
      state->registered = false;
      return Failed(WSAGetLastError());
    }
    const int now = ReadableNow(s);  // arrived before the registration
    if (now != 0) return now;
  }
  const DWORD start = GetTickCount();
  const DWORD limit = timeoutUs < 0 ? INFINITE : static_cast<DWORD>((timeoutUs + 999) / 1000);
  for (;;) {
    DWORD left = INFINITE;
    if (limit != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= limit) return 0;
      left = limit - elapsed;
    }
    HANDLE handles[2] = {state->data, state->wake};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, left);
    if (result == WAIT_OBJECT_0 + 1 || state->woken) return Woken();
    if (result == WAIT_TIMEOUT) return 0;
    if (result != WAIT_OBJECT_0) return Failed(static_cast<int>(GetLastError()));
    WSANETWORKEVENTS events;
    WSAEnumNetworkEvents(s, state->data, &events);  // resets the event
    if (!verify) return 1;
    const int now = ReadableNow(s);
    if (now != 0) return now;
  }
}

}  // namespace

int WaitReadable(SOCKET s, int64_t timeoutUs) { return Wait(s, timeoutUs, true, true); }

int WaitForDatagram(SOCKET s, int64_t timeoutUs) { return Wait(s, timeoutUs, false, false); }

bool SocketRegistered(SOCKET s) {
  const std::shared_ptr<SocketState> state = StateOf(s, false);
  return state != nullptr && state->registered;
}
