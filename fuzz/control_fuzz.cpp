// Arbitrary datagrams on the control port, applied to a live session on
// loopback (its control threads running) as its state receiver applies
// them: a batch of datagrams read one after the other, then the last
// acceptance or shutdown among them carried out (an acceptance starts a new
// receiver, a shutdown stops it). Each datagram is a record: one byte that
// picks the destination it came to (unknown, the session's group, another
// group), two bytes of length (little-endian), then that many bytes, of
// which the first 556 are the datagram as received. Nothing may crash or
// leak, and the session must have a receiver exactly when the batch's last
// word for its own group was an acceptance (or, without one, as before).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/driver_state.h"
#include "sessions/ports.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/os.h"
#include "tvnLib/os_net.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The session's own state receiver keeps running but leaves its group, so
  // that only the fuzzer acts on the session, as only the state receiver
  // does in the driver: other programs on the machine may talk to console 5.
  static PORTS& session = *[] {
    InterfaceAddr = MakeAddress(127, 0, 0, 1);
    PORTS* ports = new PORTS(5);
    for (OsSocket s = 0; s == 0 || osMembership(s, false, ports->GroupAddr, InterfaceAddr) != 0; osSleepMs(1))
      s = ports->StateRcvSfd.load();
    return ports;
  }();
  const uint32_t destinations[3] = {0, session.GroupAddr, ConsoleGroup(6)};
  ControlIntent intent = ControlIntent::None;
  bool expected = session.HasSniffer();
  for (int n = 0; n < 8 && size >= 3; ++n) {  // a batch of at most 8
    const uint32_t destination = destinations[data[0] % 3];
    const size_t length = std::min<size_t>(static_cast<size_t>(data[1] | data[2] << 8), size - 3);
    PD_PACKET packet(0);
    std::memset(static_cast<void*>(&packet), 0, sizeof packet);
    std::memcpy(&packet, data + 3, std::min<size_t>(length, kPdPacketSize));
    data += 3 + length;
    size -= 3 + length;
    const ControlIntent got = TakeControlDatagram(&session, packet, destination);
    const bool counts = (destination == 0 || destination == session.GroupAddr) && packet.Signature == kPdSignature;
    if (counts && packet.MsgType == PD_ACCEPT) expected = true;
    if (counts && packet.MsgType == PD_SHUTDOWN) expected = false;
    if (got != ControlIntent::None) intent = got;
  }
  if (!ApplyControlIntent(&session, intent)) std::abort();  // the session is not stopping
  if (session.HasSniffer() != expected) std::abort();
  return 0;
}
