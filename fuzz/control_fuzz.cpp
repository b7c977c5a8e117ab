// Arbitrary datagrams on the control port, applied to a live session on
// loopback (its control threads running) as its state receiver applies
// them: acceptances start a new receiver, shutdowns stop it. The first byte
// picks the destination the datagram came to (unknown, the session's
// group, another group); the rest, up to 556 bytes, is the datagram.
// Nothing may crash or leak, and the session must have a receiver exactly
// after an acceptance for its own group.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/driver_state.h"
#include "sessions/ports.h"
#include "tvnLib/ipaddress.h"

namespace {

PORTS& Session() {
  static PORTS* session = [] {
    InterfaceAddr = MakeAddress(127, 0, 0, 1);
    return new PORTS(5);
  }();
  return *session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  PORTS& session = Session();
  const uint32_t destinations[3] = {0, session.GroupAddr, ConsoleGroup(6)};
  const uint32_t destination = destinations[data[0] % 3];
  PD_PACKET packet(0);
  std::memset(static_cast<void*>(&packet), 0, sizeof packet);
  std::memcpy(&packet, data + 1, size - 1 < kPdPacketSize ? size - 1 : kPdPacketSize);
  const bool had = session.HasSniffer();
  if (!HandleControlDatagram(&session, packet, destination)) std::abort();  // the session is not stopping
  const bool ours = destination == 0 || destination == session.GroupAddr;
  const bool counts = ours && packet.Signature == kPdSignature;
  const bool expected = counts && packet.MsgType == PD_ACCEPT    ? true
                        : counts && packet.MsgType == PD_SHUTDOWN ? false
                                                                  : had;
  if (session.HasSniffer() != expected) std::abort();
  return 0;
}
