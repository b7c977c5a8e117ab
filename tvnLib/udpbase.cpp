#include "udpbase.h"

#include <algorithm>
#include <climits>

#include "ctask.h"
#include "echo.h"
#include "logFile.h"

namespace {
// How long Close waits for a wait or send in another thread to let go.
constexpr uint32_t kCloseWaitMs = 2000;
}  // namespace

UDPMEMBERSHIPS::~UDPMEMBERSHIPS() = default;

int UDPMEMBERSHIPS::Add(OsSocket socket, const MEMBERSHIP& membership) {
  RESOURCE_LOCK lock(this, nullptr);
  if (socket == kOsInvalidSocket) return -1;
  for (int32_t i = 0; i < m_count; ++i) {
    if (m_items[i].group == membership.group && m_items[i].interface == membership.interface)
      return 0;
  }
  const int result = osMembership(socket, true, membership.group, membership.interface);
  if (result == 0 && m_count < kCapacity) m_items[m_count++] = membership;
  return result;
}

void UDPMEMBERSHIPS::DropAll(OsSocket socket) {
  RESOURCE_LOCK lock(this, nullptr);
  if (socket != kOsInvalidSocket) {
    for (int32_t i = 0; i < m_count; ++i)
      osMembership(socket, false, m_items[i].group, m_items[i].interface);
  }
  for (MEMBERSHIP& item : m_items) item = MEMBERSHIP{0, 0};
  m_count = 0;
}

UDPBASE::UDPBASE(int openNow) {
  LogTrace(2, "UDPBASE");
  if (openNow != 0) Open();
}

UDPBASE::~UDPBASE() {
  LogTrace(2, "~UDPBASE");
  UDPBASE::Close();
  LogTrace(2, "---");
}

int UDPBASE::Open() {
  if (IsOpen()) return 0;
  const OsSocket s = osUdpSocket();
  if (s == kOsInvalidSocket) throw EXCPT_UDP("No Socket available");
  m_socket.store(s, std::memory_order_release);
  m_receiveTimeoutUs = -1;
  try {
    SetBroadcast(1);
    SetReuseAddr(1);
    SetMulticastLoop(0);
  } catch (...) {
    // A constructor that opens the socket never completes when this throws,
    // so no destructor would close it.
    Close();
    throw;
  }
  if (osSetBlocking(s) != 0) EchoPrint("Failed to Set BLOCK");
  return 1;
}

void UDPBASE::Close() {
  const OsSocket s = m_socket.exchange(kOsInvalidSocket);
  if (s == kOsInvalidSocket) return;
  m_memberships.DropAll(s);
  // Waits and sends in other threads end now; the handle is closed once
  // they have let go of it.
  osSocketWake(s);
  const uint32_t start = osTickCountMs();
  while (m_users.load() > 0 && osTickCountMs() - start < kCloseWaitMs) osSleepMs(1);
  osSocketClose(s);
}

void UDPBASE::Bind(const IPADDRESS& address) {
  const OsSocket s = Socket();
  if (s == kOsInvalidSocket) return;
  if (osBind(s, &address) != 0) {
    char text[kAddressTextSize];
    throw EXCPT_UDP("Can't bind socket %i to port %s:%i", static_cast<int>(s), AddressText(address.address, text),
                    address.HostPort());
  }
  BoundAddr = address;
}

namespace {

void SetOption(OsSocket s, OsSockOpt option, int value, const char* name) {
  if (s == kOsInvalidSocket) return;
  if (osSetSockOpt(s, option, value) != 0)
    throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", name, static_cast<int>(s));
}

}  // namespace

void UDPBASE::SetReuseAddr(int32_t on) { SetOption(Socket(), OsSockOpt::ReuseAddr, on, "SO_REUSEADDR"); }
void UDPBASE::SetBroadcast(int32_t on) { SetOption(Socket(), OsSockOpt::Broadcast, on, "SO_BROADCAST"); }
void UDPBASE::SetMulticastLoop(uint8_t on) {
  SetOption(Socket(), OsSockOpt::MulticastLoop, on, "IP_MULTICAST_LOOP");
}

void UDPBASE::SetMulticastIf(uint32_t interfaceAddr) {
  const OsSocket s = Socket();
  if (s == kOsInvalidSocket) return;
  if (osSetMulticastIf(s, interfaceAddr) != 0)
    throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "IP_MULTICAST_IF", static_cast<int>(s));
  if (SetTTL(8) == -1) throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "IP_TTL", static_cast<int>(s));
}

int UDPBASE::SetTTL(int ttl) {
  const OsSocket s = Socket();
  if (s == kOsInvalidSocket) return -1;
  const int low = ttl & 0xFF;
  if (low > 1) LogTrace(2, "WARNING: TTL set to %i! Routing correct?", low);
  return osSetSockOpt(s, OsSockOpt::MulticastTtl, low);
}

void UDPBASE::SetOnlyJoinedGroups() {
  const OsSocket s = Socket();
  if (s == kOsInvalidSocket) return;
  if (osReportDestination(s) != 0)
    throw EXCPT_UDP("CANT SET %s FOR SOCKET %i", "IP_PKTINFO", static_cast<int>(s));
}

int UDPBASE::JoinGroup(const MEMBERSHIP& membership) { return m_memberships.Add(Socket(), membership); }

template <typename Call>
int UDPBASE::InUse(int64_t timeoutUs, const char* who, int closed, Call call) {
  // The kill lock first: a task killed while it waits for that lock holds
  // nothing of the socket yet.
  CTASK* task = nullptr;
  if (timeoutUs >= 0) {
    const TASK_ID self = taskSelf();
    if (self != kNoTask) task = CTASK::FromId(self);
  }
  RESOURCE_LOCK killLock(task != nullptr ? &task->m_killLock : nullptr, who);
  const SocketUse use(this);
  const OsSocket s = use.Socket();
  if (s == kOsInvalidSocket) return closed;
  return call(s);
}

int UDPBASE::WaitReady(bool write, int64_t timeoutUs, const char* who) {
  const int result = InUse(timeoutUs, who, 0, [&](OsSocket s) { return osSelect(s, write, timeoutUs); });
  if (result < 0) return 0;
  if (!IsOpen()) return 0;
  return result > 0 ? 1 : 0;
}

int UDPBASE::ReceiveWithin(void* buf, int capacity, int64_t timeoutUs, OsDatagram* info) {
  *info = OsDatagram{};
  const int n = InUse(timeoutUs, "UDPBASE::ReceiveWithin", -1, [&](OsSocket s) {
    // The limit lives on the socket; it changes only when the caller's does.
    if (timeoutUs != m_receiveTimeoutUs) {
      const int64_t ms = timeoutUs < 0 ? 0 : std::max<int64_t>(1, (timeoutUs + 999) / 1000);
      if (osSetSockOpt(s, OsSockOpt::ReceiveTimeoutMs, static_cast<int>(std::min<int64_t>(ms, INT32_MAX))) != 0)
        return -1;
      m_receiveTimeoutUs = timeoutUs;
    }
    return osReceive(s, buf, capacity, info);
  });
  return IsOpen() ? n : -1;
}
