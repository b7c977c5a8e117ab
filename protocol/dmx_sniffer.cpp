#include "dmx_sniffer.h"

#include "../tvnLib/echo.h"
#include "../tvnLib/fault_points.h"
#include "../tvnLib/ipaddress.h"
#include "stream_health.h"

const char* const DmxDropNames[kDmxDropReasons] = {"other group", "oversize", "not DMX_DATA_NEW", "malformed",
                                                   "stopping"};

std::atomic<int> DMX_SNIFFER::StopGraceTicks{900};

uint32_t DmxGroup(int32_t console) { return MakeAddress(236, 3, 2, static_cast<uint8_t>(32 + console)); }

DMX_SNIFFER::DMX_SNIFFER(UNIVERSE_STORE* store, DMX_STATS* stats)
    : CTASK("SNIFFER"), DMX_DATA_CODER(store), m_socket(0, 0, 0), m_stats(stats != nullptr ? stats : &m_ownStats) {}

DMX_SNIFFER::~DMX_SNIFFER() {
  Leave();
  // A task that was never stopped through Leave (its Init failed, or its
  // body ended by an exception) may still hold its socket or packet.
  if (m_running) DMX_SNIFFER::Stop(-1, -1);
  delete m_packet;
  m_packet = nullptr;
}

void DMX_SNIFFER::Join(uint32_t interfaceAddr, int32_t console) {
  if (interfaceAddr == 0 || console < 1 || console > 31) return;
  if (interfaceAddr == m_interface && console == m_group) return;
  m_group = console;
  m_interface = interfaceAddr;
  if (m_running) Stop(-1, -1);
  // Each receiver formats into its own storage: several sessions join at once.
  char address[kAddressTextSize];
  EchoPrint("DMX SNIFFER joining Group %d, m_interface %s", m_group, AddressText(m_interface, address));
  m_running = 1;
  Start(2);
}

void DMX_SNIFFER::Leave() {
  if (m_group == -1) return;
  m_group = -1;
  m_interface = 0;
  if (m_running) Stop(-1, -1);
}

void DMX_SNIFFER::Stop(int, int) {
  // Ask the body to end, then wake its socket wait, so that the task ends
  // at once; the socket is closed only after the task is gone, so that its
  // handle cannot be reused under a wait.
  m_stopRequested = 1;
  m_stopEvent.Set();
  const OsSocket s = m_socket.Socket();
  if (s != kOsInvalidSocket) osSocketWake(s);
  CTASK::Stop(StopGraceTicks.load(), StopGraceTicks.load());
  m_socket.Close();
}

void DMX_SNIFFER::Init() {
  m_socket.Open();
  m_socket.SetReuseAddr(1);
  m_socket.SetMulticastLoop(1);
  m_socket.SetOnlyJoinedGroups();
  // Room for bursts: a console sends a frame of 64 universes as 32
  // datagrams at once, and the system's default buffer is small on Windows.
  osSetSockOpt(m_socket.Socket(), OsSockOpt::ReceiveBuffer, kReceiveBufferBytes);
  m_socket.Bind(IPADDRESS(DmxPort, 0));
  m_groupAddr = DmxGroup(m_group);
  if (m_socket.JoinGroup(MEMBERSHIP{m_groupAddr, m_interface}) != 0)
    EchoPrint("DMX SNIFFER: can't join group %d (errno %d)", m_group, osNetLastError());
  m_socket.SetMulticastIf(m_interface);
  m_socket.DefaultDest = IPADDRESS(DmxPort, MakeAddress(236, 3, 2, 32));
  CTASK::Init();
}

void DMX_SNIFFER::Run() {
  if (WaitStop(0)) return;
  for (;;) {
    if (!m_socket.IsOpen()) return;
    if (ReceiveOne(1000, &m_packet) == 0 && m_lastPassFailed) PauseAfterFailure();
    if (WaitStop(0)) return;
  }
}

void DMX_SNIFFER::PauseAfterFailure() { WaitStop(100); }

void DMX_SNIFFER::Exit() {
  delete m_packet;
  m_packet = nullptr;
  m_running = 0;
  CTASK::Exit();
}

int DMX_SNIFFER::ReceiveOne(int32_t timeoutMs, RR_PACKET** holder) {
  m_lastPassFailed = true;
  if (!m_socket.IsOpen()) return 0;
  if (*holder == nullptr) {
    if (!FaultArmed(FaultPoint::ReceiverNoPacket)) *holder = new (std::nothrow) RR_PACKET;
    if (*holder == nullptr) return 0;
  }
  RR_PACKET* packet = *holder;
  OsDatagram info;
  // A datagram already queued is taken without a wait: a console's frame
  // arrives as a burst of datagrams, and each costs one system call.
  const int64_t waitUs = timeoutMs == -1 ? -1 : static_cast<int64_t>(timeoutMs) * 1000;
  const int received = m_socket.ReceiveWithin(packet->Datagram(), kRrMaxDatagram, waitUs, &info);
  m_lastPassFailed = received < 0;
  if (received >= 0) NoteStreamHealth(*m_stats, m_groupAddr, info, packet->Datagram(), received);
  if (received < 1) return 0;
  DMX_STATS& stats = *m_stats;
  stats.m_received.fetch_add(1, std::memory_order_relaxed);
  // Another console's group reaches this socket where the platform delivers
  // every group joined on the port; a datagram longer than the buffer was
  // cut and is never decoded.
  if (info.destination != 0 && info.destination != m_groupAddr) {
    stats.Count(DmxDrop::OtherGroup);
  } else if (info.truncated) {
    stats.Count(DmxDrop::Oversize);
  } else if (!RrAcceptDmxDataNew(packet->Datagram(), received)) {
    stats.Count(DmxDrop::NotDmxDataNew);
  } else if (!LockLevelsForDecode()) {
    stats.Count(DmxDrop::Stopping);
  } else {
    const bool whole = Decode(packet->Payload(), packet->header.PayloadLength);
    FaultPause(FaultPoint::DecodeHoldingLevels);
    Store().Guard().Unlock();
    if (whole)
      stats.m_decoded.fetch_add(1, std::memory_order_relaxed);
    else
      stats.Count(DmxDrop::Malformed);
  }
  return 1;
}

bool DMX_SNIFFER::LockLevelsForDecode() {
  RESOURCE& levels = Store().Guard();
  while (!levels.TryLockFor(50))
    if (m_stopRequested.load() != 0) return false;
  return true;
}
