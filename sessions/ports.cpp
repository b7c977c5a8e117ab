#include "ports.h"

#include <cstdio>
#include <initializer_list>
#include <new>

#include "../tvnLib/echo.h"
#include "../tvnLib/fault_points.h"
#include "../tvnLib/thread_end.h"

// Both threads end within milliseconds of being woken; the limit only
// matters for a thread that is stuck, which is then ended by force.
std::atomic<uint32_t> PORTS::ThreadEndMs{15000};

PORTS::PORTS(uint32_t console) {
  EchoPrint("\nPORTS CONSTRUCTOR START %d", static_cast<int>(console));
  hconnect_event = osEventCreate(true, false);
  if (hconnect_event == nullptr) EchoPrint(" couldn't create event %d", static_cast<int>(osLastError()));
  GroupAddr = ConsoleGroup(console);
  // Without its events and locks a session would beat without pause or
  // race its own teardown: it does not start at all.
  m_ready = hconnect_event != nullptr && SendLock.Valid() && m_stopEvent.Valid() && m_listening.Valid() &&
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

void PORTS::BeginStop() {
  // Sequentially consistent with the threads' publications: a thread that
  // publishes a socket or a receiver after this sees the flag, and one that
  // published before is seen (and woken) here.
  m_stopping.store(true);
  m_stopEvent.Set();
  for (std::atomic<OsSocket>* field : {&StateRcvSfd, &SendSfd}) {
    const OsSocket s = field->load();
    if (s != 0) osSocketWake(s);
  }
}

PORTS::~PORTS() {
  // A host that disconnects while it holds the buffers gives them up here.
  while (m_hostHeld > 0) UnlockBuffers();
  EchoPrint("~PORTS() StateRcvSfd=%d,SendSfd=%d", static_cast<int>(StateRcvSfd), static_cast<int>(SendSfd));
  BeginStop();
  EndThread(&hStateRcvThread, &StateRcvSfd);
  EndThread(&hHeartbeatThread, &SendSfd);
  EchoPrint("~PORTS() SendSfd=%d", static_cast<int>(SendSfd));
  if (hconnect_event != nullptr) {
    osCloseHandle(hconnect_event);
    hconnect_event = nullptr;
  }
  StopSniffer();
  EchoPrint("~PORTS() leaving destructor");
}

// Waits for a (woken) thread to end, then closes its socket: closing first
// could let a new socket reuse the handle under the thread's wait. A thread
// that does not end in time is ended by force.
void PORTS::EndThread(OsThread** thread, std::atomic<OsSocket>* field) {
  if (*thread != nullptr && !osThreadJoin(*thread, ThreadEndMs.load())) {
    EchoPrint("~PORTS() a control thread did not end; ending it");
    if (!ForceEndThread(*thread, 5000)) EchoPrint("~PORTS() the control thread could not be ended");
  }
  osThreadClose(*thread);
  *thread = nullptr;
  const OsSocket last = field->exchange(0);
  if (last != 0) osSocketClose(last);
}

bool PORTS::PublishSocket(std::atomic<OsSocket>* field, OsSocket s) {
  field->store(s);
  return !m_stopping.load();
}

bool PORTS::Pause(uint32_t ms) { return m_stopEvent.Wait(static_cast<int32_t>(ms)) == 0; }

void PORTS::StartSniffer() {
  StopSniffer();
  if (Stopping()) return;
  DMX_SNIFFER* sniffer = new (std::nothrow) DMX_SNIFFER(&m_levels, &DmxStats);
  if (sniffer == nullptr) {
    EchoPrint("StartSniffer: no memory for the DMX receiver");
    return;
  }
  sniffer->CancelStartWhen(&m_stopping);
  m_receiver.store(sniffer);
  for (int universe = 0; universe < kUniverses; ++universe) sniffer->AddUniverse(universe);
  Sniffer.store(sniffer);
  // A session being destroyed from here on cancels the receiver's start;
  // its destructor deletes the receiver.
  if (Stopping()) return;
  sniffer->Join(CurrentInterfaceAddr(), static_cast<int32_t>(Console()));
}

void PORTS::StopSniffer() {
  // Out of use first: the host and the heartbeat see no receiver from here
  // on. It stays this session's until it is deleted.
  if (Sniffer.exchange(nullptr) == nullptr && m_receiver.load() == nullptr) return;
  FaultPause(FaultPoint::StopSnifferTaken);
  DMX_SNIFFER* sniffer = m_receiver.load();
  if (sniffer != nullptr) {
    sniffer->Leave();
    delete sniffer;
    m_receiver.store(nullptr);
  }
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
    if (!osMemoryReadable(out, sizeof *out)) {
      EchoPrint("GetPortBuffer: Exception while accessing DMX buffer");
    } else {
      *out = levels;
    }
  }
  return 512;
}

void PORTS::SendPacket(const PD_PACKET& packet, const char* errorFormat) {
  const IPADDRESS destination(ControlPort, GroupAddr);
  RESOURCE_LOCK hold(&SendLock, nullptr);
  const OsSocket s = SendSfd.load();
  if (s != 0 && SelectWrite(s)) {
    if (osSendTo(s, &packet, kPdPacketSize, &destination) < 0 && !Stopping())
      EchoPrint(errorFormat, osNetLastError());
  }
}
