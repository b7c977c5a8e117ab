#include "ports.h"

#include <cstdio>
#include <new>

#include "../tvnLib/echo.h"

namespace {

// How long the destructor waits for each control thread. Both end within a
// second of being woken; the limit only matters at unload, where no wait
// may be endless.
constexpr uint32_t kThreadEndMs = 15000;

}  // namespace

PORTS::PORTS(uint32_t console) {
  EchoPrint("\nPORTS CONSTRUCTOR START %d", static_cast<int>(console));
  hconnect_event = osEventCreate(true, false);
  if (hconnect_event == nullptr) EchoPrint(" couldn't create event %d", static_cast<int>(osLastError()));
  const bool sendLockMade = osLockInit(&SendLock);
  GroupAddr = ConsoleGroup(console);
  // Without its events and locks a session would beat without pause or
  // race its own teardown: it does not start at all.
  m_ready = hconnect_event != nullptr && sendLockMade && m_stopEvent.Valid() && m_lifeLock.Valid() &&
            m_levels.Guard().Valid();
  if (!m_ready) {
    EchoPrint("PORTS %d: couldn't create the session's events and locks", static_cast<int>(console));
  } else {
    hStateRcvThread = osThreadCreate(StateRcv, this, 0, false, &StateRcvThreadId);
    osThreadSetPriority(hStateRcvThread, 2);
    hHeartbeatThread = osThreadCreate(HeartbeatSender, this, 0, false, &HeartbeatThreadId);
    osThreadSetPriority(hHeartbeatThread, 1);
  }
  EchoPrint("\nPORTS CONSTRUCTOR END %d", static_cast<int>(console));
}

PORTS::~PORTS() {
  // A host that disconnects while it holds the buffers gives them up here.
  while (m_hostHeld > 0) UnlockBuffers();
  EchoPrint("~PORTS() StateRcvSfd=%d,SendSfd=%d", static_cast<int>(StateRcvSfd), static_cast<int>(SendSfd));
  m_lifeLock.Lock();
  m_stopping = true;
  // A receiver being started now ends its start at once: its thread may be
  // unable to run (at unload the loader lock holds every new thread back).
  DMX_SNIFFER* starting = Sniffer.load(std::memory_order_acquire);
  if (starting != nullptr) starting->CancelStart();
  m_lifeLock.Unlock();
  m_stopEvent.Set();
  EndThread(&hStateRcvThread, &StateRcvSfd);
  EndThread(&hHeartbeatThread, &SendSfd);
  EchoPrint("~PORTS() SendSfd=%d", static_cast<int>(SendSfd));
  osLockDestroy(&SendLock);
  if (hconnect_event != nullptr) {
    osCloseHandle(hconnect_event);
    hconnect_event = nullptr;
  }
  StopSniffer();
  EchoPrint("~PORTS() leaving destructor");
}

// Wakes a thread out of its socket wait, waits for it to end, then closes
// its socket: closing first could let a new socket reuse the handle under
// the thread's wait. A thread that does not end in time is ended by force.
void PORTS::EndThread(OsThread** thread, std::atomic<OsSocket>* field) {
  const OsSocket s = field->load();
  if (s != 0) osSocketWake(s);
  if (*thread != nullptr && !osThreadWaitEnd(*thread, kThreadEndMs)) {
    EchoPrint("~PORTS() a control thread did not end; ending it");
    osThreadTerminate(*thread);
    osThreadWaitEnd(*thread, 1000);
  }
  osThreadClose(*thread);
  *thread = nullptr;
  const OsSocket last = field->exchange(0);
  if (last != 0) osSocketClose(last);
}

bool PORTS::PublishSocket(std::atomic<OsSocket>* field, OsSocket s) {
  m_lifeLock.Lock();
  const bool open = !m_stopping;
  if (open) field->store(s);
  m_lifeLock.Unlock();
  if (!open) osSocketClose(s);
  return open;
}

bool PORTS::Pause(uint32_t ms) { return m_stopEvent.Wait(static_cast<int32_t>(ms)) == 0; }

void PORTS::StartSniffer() {
  StopSniffer();
  m_lifeLock.Lock();
  if (m_stopping) {
    m_lifeLock.Unlock();
    return;
  }
  DMX_SNIFFER* sniffer = new (std::nothrow) DMX_SNIFFER(&m_levels);
  if (sniffer == nullptr) {
    m_lifeLock.Unlock();
    EchoPrint("StartSniffer: no memory for the DMX receiver");
    return;
  }
  Sniffer.store(sniffer, std::memory_order_release);
  m_lifeLock.Unlock();
  for (int universe = 0; universe < kUniverses; ++universe) sniffer->AddUniverse(universe);
  sniffer->Join(CurrentInterfaceAddr(), static_cast<int32_t>(Console()));
}

void PORTS::StopSniffer() {
  // Taken out of the session first: the host and the heartbeat see no
  // receiver from here on, and the destructor cannot reach it any more.
  m_lifeLock.Lock();
  DMX_SNIFFER* sniffer = Sniffer.exchange(nullptr, std::memory_order_acq_rel);
  m_lifeLock.Unlock();
  if (sniffer == nullptr) return;
  sniffer->Leave();
  delete sniffer;
  // The next receiver's levels start at 0; a host that holds the banks
  // past the wait finds them cleared when it next takes or releases them.
  if (!m_levels.Clear(kHostWaitMs))
    EchoPrint("StopSniffer: the host holds the buffers of %d; they are cleared when it releases them",
              static_cast<int>(Console()));
}

int PORTS::LockBuffers(const char* who) {
  if (!HasSniffer()) return -1;
  m_levels.Guard().Lock(who, -1);
  m_levels.ClearIfPending();
  ++m_hostHeld;
  return 0;
}

int PORTS::UnlockBuffers() {
  if (m_hostHeld <= 0) return -1;
  m_levels.ClearIfPending();
  --m_hostHeld;
  m_levels.Guard().Unlock();
  return 0;
}

int PORTS::BufferOf(int port, uint8_t** out) {
  if (!HasSniffer()) return 0;
  uint8_t* levels = m_levels.LevelsOf(port);
  if (levels != nullptr) {
    if (out == nullptr) {
      EchoPrint("GetPortBuffer: Exception while accessing DMX buffer");
    } else {
      *out = levels;
    }
  }
  return 512;
}

void PORTS::SendPacket(const PD_PACKET& packet, const char* errorFormat) {
  const IPADDRESS destination(ControlPort, GroupAddr);
  osLockEnter(&SendLock);
  const OsSocket s = SendSfd.load();
  if (s != 0 && SelectWrite(s)) {
    if (osSendTo(s, &packet, kPdPacketSize, &destination) < 0 && !Stopping())
      EchoPrint(errorFormat, osNetLastError());
  }
  osLockLeave(&SendLock);
}
