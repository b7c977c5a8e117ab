// Arbitrary sequences of the host's export calls with arbitrary arguments,
// against a live session of console 5 on loopback: ports and handles of
// any value, counts of any size, and records and texts that end where an
// unreadable page begins. Nothing may crash, and every hold the sequence
// took on the buffers is given back by Unlock calls at its end.
//
// Each call is one opcode byte followed by its argument bytes, read from
// the input in turn (missing bytes read as 0).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "driver/driver_state.h"
#include "driver/pvtrivane.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tvnLib/echo.h"
#include "tvnLib/ipaddress.h"

namespace {

// Two readable pages, each followed by an unreadable one.
const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
uint8_t* const kArena = [] {
  auto* p = static_cast<uint8_t*>(mmap(nullptr, 4 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (p == MAP_FAILED || mprotect(p + kPage, kPage, PROT_NONE) != 0 || mprotect(p + 3 * kPage, kPage, PROT_NONE) != 0)
    std::abort();
  return p;
}();
constexpr uint16_t kHandles[] = {5, 5, 5, 6, 0, 0xFFFF};

// Reads the input's bytes in turn.
struct Reader {
  const uint8_t* data;
  size_t size, at;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  int32_t Int() {  // mostly small values, sometimes any 32-bit value
    const uint8_t kind = Byte();
    uint32_t v = 0;
    for (int i = 0; kind >= 200 && i < 4; ++i) v = v << 8 | Byte();
    return kind < 200 ? kind - 8 : static_cast<int32_t>(v);
  }
  uint16_t Handle() { return kHandles[Byte() % 6]; }
  // Host memory that ends early: `n` bytes of the input (at most a page)
  // just before the first (or, with `second`, the second) unreadable page.
  uint8_t* Host(size_t n, bool second = false) {
    n = std::min(n, kPage);
    uint8_t* p = kArena + (second ? 3 : 1) * kPage - n;
    for (size_t i = 0; i < n; ++i) p[i] = Byte();
    return p;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PORTS& session = *[] {
    static char noWindow = 0;
    EchoWnd.store(&noWindow);                            // lines are formatted and stored, never shown
    DriverMessageBox = [](const char*, const char*) {};  // the host's message boxes are not shown
    InterfaceAddr = MakeAddress(127, 0, 0, 1);
    PORTS* s = new PORTS(5);
    HandleControlDatagram(s, PD_PACKET(PD_ACCEPT), 0);  // a receiver, as after the console's acceptance
    return PortMap()[5] = s;
  }();
  Reader in{data, size, 0};
  AutofocusMode = in.Byte() % 2 == 0 ? BLIND_AUTOFOCUS : MIDI_AUTOFOCUS;
  for (int calls = 0; in.at < in.size && calls < 64; ++calls) {
    const int op = in.Byte() % 12;
    if (op == 10) StartBlindAF(), ClearBlindAF();
    if (op == 11) FinishBlindAF();
    if (op >= 10) continue;
    const uint16_t h = in.Handle();
    if (op == 6) {
      // The type texts are valid, null, or run into the unreadable page;
      // the items end where that page begins, so a count beyond them is a
      // read that the driver must refuse, never garbage it may follow.
      const int32_t count = in.Byte() % 80;
      const char* text = reinterpret_cast<const char*>(in.Host(in.Byte() % 16, /*second=*/true));
      SelectionItem* items = reinterpret_cast<SelectionItem*>(kArena + kPage) - count;
      for (int32_t i = 0; i < count; ++i) {
        const uint8_t kind = in.Byte() % 3;
        items[i] = SelectionItem{kind == 0 ? "Spot" : kind == 1 ? nullptr : text, in.Int(), in.Int(), in.Int()};
      }
      SendBlindAFSelection(h, in.Byte() % 2 == 0 ? count : in.Int(), items);
    } else if (op == 7) {
      const char* type = reinterpret_cast<const char*>(in.Host(in.Byte() % 24));
      const int32_t spot = in.Int(), parts = in.Int();
      SendPatch(h, type, spot, parts, reinterpret_cast<const PatchPartInfo*>(in.Host(16 * (in.Byte() % 8))));
    } else {
      const int32_t a = in.Int();  // a port, or a length
      uint8_t* out = nullptr;
      if (op == 0) LockPortBuffer(h, a);
      if (op == 1 && GetPortBuffer(h, a, in.Byte() % 4 == 0 ? nullptr : &out) == 512 && out != nullptr) {
        volatile uint8_t sum = 0;
        for (int c = 0; c < 512; ++c) sum = sum + out[c];  // the 512 levels must be readable
      }
      if (op == 2) UnlockPortBuffer(h, a);
      if (op == 3) GetNumPorts(h), GetPortCaps(h, a), GetNumChannels(h, a);
      if (op == 4) SendMIDI(h, 0, a, in.Host(in.Byte()));
      if (op == 5) {
        const int32_t count = in.Int();
        SetBlindAFChannelData(h, a, count, reinterpret_cast<const ChannelLevel*>(in.Host(4 * in.Byte())));
      }
      if (op == 8) SendSpot(h, a, in.Int());
      if (op == 9) SendStartChannel(h, a, in.Int());
    }
  }
  while (session.HostHolds() > 0) UnlockPortBuffer(5, 0);  // the host gives back every hold it took
  return 0;
}
