#include "ports.h"

#include <cstdio>

#include "../tvnLib/echo.h"

PORTS::PORTS(uint32_t console) {
  EchoPrint("\nPORTS CONSTRUCTOR START %d", static_cast<int>(console));
  hconnect_event = osEventCreate(true, false);
  if (hconnect_event == nullptr) EchoPrint(" couldn't create event %d", static_cast<int>(osLastError()));
  osLockInit(&SendLock);
  GroupAddr = ConsoleGroup(console);
  hStateRcvThread = osThreadCreate(StateRcv, this, 0, false, &StateRcvThreadId);
  osThreadSetPriority(hStateRcvThread, 2);
  hHeartbeatThread = osThreadCreate(HeartbeatSender, this, 0, false, &HeartbeatThreadId);
  osThreadSetPriority(hHeartbeatThread, 1);
  EchoPrint("\nPORTS CONSTRUCTOR END %d", static_cast<int>(console));
}

PORTS::~PORTS() {
  // A host that disconnects while it holds the buffers gives them up here.
  while (m_hostHeld > 0) UnlockBuffers();
  EchoPrint("~PORTS() StateRcvSfd=%d,SendSfd=%d", static_cast<int>(StateRcvSfd), static_cast<int>(SendSfd));
  m_socketLock.Lock();
  m_stopping = true;
  m_socketLock.Unlock();
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
// the thread's wait.
void PORTS::EndThread(OsThread** thread, std::atomic<OsSocket>* field) {
  const OsSocket s = field->load();
  if (s != 0) osSocketWake(s);
  osThreadWaitEnd(*thread, kOsInfinite);
  osThreadClose(*thread);
  *thread = nullptr;
  const OsSocket last = field->exchange(0);
  if (last != 0) osSocketClose(last);
}

bool PORTS::PublishSocket(std::atomic<OsSocket>* field, OsSocket s) {
  m_socketLock.Lock();
  const bool open = !m_stopping;
  if (open) field->store(s);
  m_socketLock.Unlock();
  if (!open) osSocketClose(s);
  return open;
}

bool PORTS::Pause(uint32_t ms) { return m_stopEvent.Wait(static_cast<int32_t>(ms)) == 0; }

void PORTS::StartSniffer() {
  StopSniffer();
  DMX_SNIFFER* sniffer = new DMX_SNIFFER;
  m_hostLock.Lock();
  Sniffer.store(sniffer, std::memory_order_release);
  m_hostLock.Unlock();
  for (int universe = 0; universe < kUniverses; ++universe) sniffer->AddUniverse(universe);
  sniffer->Join(CurrentInterfaceAddr(), static_cast<int32_t>(Console()));
}

void PORTS::StopSniffer() {
  DMX_SNIFFER* sniffer = Sniffer.load(std::memory_order_acquire);
  if (sniffer == nullptr) return;
  sniffer->Leave();
  // The host reaches the receiver only under m_hostLock: once it is none
  // here, no host call can find it, and the host's current hold has ended.
  m_hostLock.Lock();
  Sniffer.store(nullptr, std::memory_order_release);
  m_hostLock.Unlock();
  sniffer->Lock("PORTS::StopSniffer", -1);
  sniffer->Unlock();
  delete sniffer;
}

int PORTS::LockBuffers(const char* who) {
  m_hostLock.Lock();
  DMX_SNIFFER* sniffer = Sniffer.load(std::memory_order_acquire);
  if (sniffer == nullptr) {
    m_hostLock.Unlock();
    return -1;
  }
  sniffer->Lock(who, -1);
  ++m_hostHeld;
  return 0;
}

int PORTS::UnlockBuffers() {
  if (m_hostHeld <= 0) return -1;
  // While the host holds m_hostLock the receiver cannot change.
  Sniffer.load(std::memory_order_acquire)->Unlock();
  --m_hostHeld;
  m_hostLock.Unlock();
  return 0;
}

int PORTS::BufferOf(int port, uint8_t** out) {
  m_hostLock.Lock();
  DMX_SNIFFER* sniffer = Sniffer.load(std::memory_order_acquire);
  if (sniffer == nullptr) {
    m_hostLock.Unlock();
    return 0;
  }
  sniffer->Lock("GetPortBuffer", -1);
  uint8_t* levels = sniffer->LevelsOf(port);
  sniffer->Unlock();
  m_hostLock.Unlock();
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
    if (osSendTo(s, &packet, kPdPacketSize, &destination) < 0) EchoPrint(errorFormat, osNetLastError());
  }
  osLockLeave(&SendLock);
}
