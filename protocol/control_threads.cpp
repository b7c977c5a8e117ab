// The two control threads of a console session: the state receiver, which
// takes the console's acceptance and shutdown messages from 236.3.3.N:6007,
// and the heartbeat sender, which multicasts a heartbeat there every 900 ms.
#include <cstring>

#include "../sessions/ports.h"
#include "../tvnLib/echo.h"
#include "../tvnLib/fault_points.h"
#include "../tvnLib/ipaddress.h"

bool SelectRead(OsSocket s, int64_t timeoutUs) { return osSelect(s, false, timeoutUs) == 1; }

namespace {
// A wait that fails (at once, for a closed or broken socket) is retried
// only after this pause, so that the state receiver never spins a core.
constexpr uint32_t kFailedWaitPauseMs = 100;
// Room for the control group's bursts: the driver's own heartbeats and
// autofocus packets come back on it as well, and must not push a
// console's shutdown out.
constexpr int kControlReceiveBufferBytes = 1 << 20;
}  // namespace

bool SelectWrite(OsSocket s) { return osSelect(s, true, -1) == 1; }

namespace {

int SetInt(OsSocket s, OsSockOpt option) { return osSetSockOpt(s, option, 1); }

// Opens, configures and joins the state receiver's socket; 0 when a step
// failed (logged), or when the session is being destroyed.
OsSocket OpenStateSocket(PORTS* ports) {
  const OsSocket s = osUdpSocket();
  if (s == kOsInvalidSocket) {
    EchoPrint("Couldn't open socket\nfor state receiver! (errno %d)", osNetLastError());
    return 0;
  }
  if (!ports->PublishSocket(&ports->StateRcvSfd, s)) return 0;
  if (SetInt(s, OsSockOpt::ReuseAddr) != 0) {
    EchoPrint("Couldn't open socket\nfor state receiver! (ReuseAddress) (errno %d)", osNetLastError());
    return 0;
  }
  if (SetInt(s, OsSockOpt::MulticastLoop) != 0) {
    EchoPrint("Couldn't open socket\nfor state receiver! (SetMulticastLoop) (errno %d)", osNetLastError());
    return 0;
  }
  // Only this console's group: the port is shared by every session.
  osReportDestination(s);
  osSetSockOpt(s, OsSockOpt::ReceiveBuffer, kControlReceiveBufferBytes);
  const IPADDRESS any(ControlPort, 0);
  if (osBind(s, &any) != 0) {
    EchoPrint("Couldn't bind socket\nfor state receiver!");
    return 0;
  }
  FaultPause(FaultPoint::StateRcvBeforeJoin);
  if (osMembership(s, true, ports->GroupAddr, CurrentInterfaceAddr()) != 0) {
    EchoPrint("Couldn't open socket\nfor state receiver!");
    return 0;
  }
  return s;
}

}  // namespace

const char* const ControlDropNames[kControlDropReasons] = {"other group", "signature", "other type"};

namespace {

// How many queued datagrams the state receiver reads before it acts on
// them, so that a flood cannot keep it from acting.
constexpr int kDrainLimit = 256;

ControlIntent Pass(PORTS* ports, ControlDrop reason) {
  ports->ControlDropped[static_cast<int>(reason)].fetch_add(1, std::memory_order_relaxed);
  return ControlIntent::None;
}

}  // namespace

ControlIntent TakeControlDatagram(PORTS* ports, const PD_PACKET& packet, uint32_t destination) {
  ports->ControlReceived.fetch_add(1, std::memory_order_relaxed);
  if (destination != 0 && destination != ports->GroupAddr) return Pass(ports, ControlDrop::OtherGroup);
  if (packet.Signature != kPdSignature) return Pass(ports, ControlDrop::Signature);
  switch (packet.MsgType) {
    case PD_ACCEPT:
      EchoPrint("RECEIVED PD_ACCEPT ports->hconnect_event=%d",
                static_cast<int>(reinterpret_cast<intptr_t>(ports->hconnect_event)));
      // At once: the host's Connect waits for it.
      if (ports->hconnect_event != nullptr) osEventSet(ports->hconnect_event);
      return ControlIntent::Accept;
    case PD_SHUTDOWN:
      EchoPrint("RECEIVED PD_SHUTDOWN");
      return ControlIntent::Shutdown;
    default:
      return Pass(ports, ControlDrop::OtherType);
  }
}

bool ApplyControlIntent(PORTS* ports, ControlIntent intent) {
  switch (intent) {
    case ControlIntent::Accept:
      if (!ports->Pause(100)) return false;
      ports->StartSniffer();
      return true;
    case ControlIntent::Shutdown:
      ports->StopSniffer();
      return true;
    default:
      return true;
  }
}

bool HandleControlDatagram(PORTS* ports, const PD_PACKET& packet, uint32_t destination) {
  return ApplyControlIntent(ports, TakeControlDatagram(ports, packet, destination));
}

namespace {

// Reads every datagram queued on the state receiver's socket (up to
// kDrainLimit, the first one known to be there) and returns what the last
// acceptance or shutdown among them asks; a console that repeats itself is
// thus followed at once, not message by message with a receiver each. False
// in *ok when a receive failed (logged) or the session is being destroyed.
ControlIntent DrainControlSocket(PORTS* ports, OsSocket s, PD_PACKET* buffer, bool* ok) {
  ControlIntent intent = ControlIntent::None;
  *ok = true;
  for (int n = 0; n < kDrainLimit && !ports->Stopping(); ++n) {
    if (n > 0 && osSelect(s, false, 0) != 1) break;
    // A short datagram must not leave the previous packet's fields behind.
    std::memset(static_cast<void*>(buffer), 0, sizeof *buffer);
    OsDatagram info;
    if (osRecvFrom(s, buffer, kPdPacketSize, &info) < 0) {
      if (!ports->Stopping()) EchoPrint("recv error %d", osNetLastError());
      *ok = false;
      break;
    }
    const ControlIntent got = TakeControlDatagram(ports, *buffer, info.destination);
    if (got != ControlIntent::None) intent = got;
  }
  if (ports->Stopping()) *ok = false;
  return intent;
}

}  // namespace

void StateRcv(void* session) {
  PORTS* ports = static_cast<PORTS*>(session);
  PD_PACKET buffer(0);
  const OsSocket s = OpenStateSocket(ports);
  // From here the heartbeat may go out: an answer to it is heard (or the
  // set-up failed, as logged, and nothing can be heard).
  ports->SetListening();
  if (s == 0) {
    ports->StateRcvExit = ports->Stopping() ? 0 : -1;
    return;
  }
  try {
    int lastWaitError = 0;
    while (ports->StateRcvSfd != 0 && !ports->Stopping()) {
      FaultPause(FaultPoint::StateRcvInLoop);
      osNetClearLastError();
      const int ready = osSelect(s, false, 2000000);
      if (ready != 1) {
        if (ready == 0 || ports->Stopping()) continue;
        // A failed wait: one line per run of the same error, and a pause
        // after every one, whatever the error says.
        const int error = osNetLastError();
        if (error != 0 && error != lastWaitError) EchoPrint("StateRcv: SelectRead Error (errno==%d)!", error);
        lastWaitError = error;
        if (!ports->Pause(kFailedWaitPauseMs)) break;
        continue;
      }
      lastWaitError = 0;
      bool ok = true;
      const ControlIntent intent = DrainControlSocket(ports, s, &buffer, &ok);
      if (!ApplyControlIntent(ports, intent) || !ok) break;
    }
  } catch (...) {
    osPassForcedUnwind();
    EchoPrint("StateRcv: Unknown Exception ");
  }
  EchoPrint("Leaving StateRcv");
}

void HeartbeatSender(void* session) {
  PORTS* ports = static_cast<PORTS*>(session);
  PD_PACKET beat(PD_HEARTBEAT);
  const IPADDRESS destination(ControlPort, ports->GroupAddr);
  osClearLastError();
  const OsSocket s = osUdpSocket();
  if (s == kOsInvalidSocket) {
    EchoPrint("Couldn't open socket\nfor heartbeat sender! (errno %d)", osNetLastError());
    ports->HeartbeatExit = -1;
    return;
  }
  if (!ports->PublishSocket(&ports->SendSfd, s)) return;
  osClearLastError();
  if (osSetMulticastIf(s, CurrentInterfaceAddr()) != 0) {
    EchoPrint("Couldn't set socket option\nfor heartbeat send socket! (Multicast IF) (errno %d)", osNetLastError());
    ports->HeartbeatExit = -1;
    return;
  }
  if (osSetSockOpt(s, OsSockOpt::MulticastLoop, 1) != 0) {
    EchoPrint("Couldn't set socket option\nfor heartbeat send socket! (SetMulticastLoop) (errno %d)",
              osNetLastError());
    ports->HeartbeatExit = -1;
    return;
  }
  // The first heartbeat waits for the state receiver to listen.
  while (!ports->Listening())
    if (!ports->Pause(10)) return;
  try {
    while (ports->SendSfd != 0 && !ports->Stopping()) {
      FaultPause(FaultPoint::HeartbeatInLoop);
      beat.Receiving = ports->HasSniffer() ? 1 : 0;
      {
        RESOURCE_LOCK hold(&ports->SendLock, nullptr);
        if (!SelectWrite(s)) break;
        if (osSendTo(s, &beat, kPdPacketSize, &destination) < 0) {
          // A session being destroyed wakes the socket, which fails the send.
          if (!ports->Stopping()) EchoPrint("heartbeat sender sendto error (errno %d)", osNetLastError());
          break;
        }
      }
      ports->HeartbeatsSent.fetch_add(1, std::memory_order_relaxed);
      if (!ports->Pause(900)) break;
    }
  } catch (...) {
    osPassForcedUnwind();
    EchoPrint("Heartbeat Sender: Unknown Exception ");
  }
  EchoPrint("Leaving HeartbeatSender");
}
