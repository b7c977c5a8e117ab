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

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/driver_state.h"
#include "driver/pvtrivane.h"
#include "sessions/port_map.h"
#include "sessions/ports.h"
#include "tvnLib/echo.h"
#include "tvnLib/ipaddress.h"

namespace {

// Reads the input's bytes in turn.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool More() const { return m_at < m_size; }
  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  int32_t Int() {
    // Mostly small values, sometimes any 32-bit value.
    const uint8_t kind = Byte();
    if (kind < 200) return static_cast<int32_t>(kind) - 8;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return static_cast<int32_t>(v);
  }
  uint16_t Handle() {
    static const uint16_t handles[] = {5, 5, 5, 6, 0, 0xFFFF};
    return handles[Byte() % 6];
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

// Two readable pages, each followed by an unreadable one. Host memory that
// "ends early" is placed at the end of a readable page.
struct Arena {
  uint8_t* base;
  size_t page;
};

Arena& Memory() {
  static Arena arena = [] {
    Arena a;
    a.page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, 4 * a.page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) std::abort();
    a.base = static_cast<uint8_t*>(p);
    mprotect(a.base + a.page, a.page, PROT_NONE);
    mprotect(a.base + 3 * a.page, a.page, PROT_NONE);
    return a;
  }();
  return arena;
}

// `readable` bytes of the input (at most one page) just before the first
// (or, with `second`, the second) unreadable page.
uint8_t* HostBytes(Reader& in, size_t readable, bool second = false) {
  Arena& a = Memory();
  if (readable > a.page) readable = a.page;
  uint8_t* p = a.base + (second ? 3 : 1) * a.page - readable;
  for (size_t i = 0; i < readable; ++i) p[i] = in.Byte();
  return p;
}

PORTS& Session() {
  static PORTS* session = [] {
    static char noWindow = 0;
    EchoWnd.store(&noWindow);  // lines are formatted and stored, never shown
    DriverMessageBox = [](const char*, const char*) {};  // the host's message boxes are not shown
    InterfaceAddr = MakeAddress(127, 0, 0, 1);
    PORTS* s = new PORTS(5);
    PD_PACKET accept(PD_ACCEPT);
    HandleControlDatagram(s, accept, 0);  // a receiver, as after the console's acceptance
    PortMap()[5] = s;
    return s;
  }();
  return *session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PORTS& session = Session();
  Reader in(data, size);
  AutofocusMode = in.Byte() % 2 == 0 ? BLIND_AUTOFOCUS : MIDI_AUTOFOCUS;
  for (int calls = 0; in.More() && calls < 64; ++calls) {
    switch (in.Byte() % 12) {
      case 0:
        LockPortBuffer(in.Handle(), in.Int());
        break;
      case 1: {
        uint8_t* out = nullptr;
        const uint16_t h = in.Handle();
        const int32_t port = in.Int();
        if (GetPortBuffer(h, port, in.Byte() % 4 == 0 ? nullptr : &out) == 512 && out != nullptr) {
          volatile uint8_t sum = 0;
          for (int c = 0; c < 512; ++c) sum = sum + out[c];  // the 512 levels must be readable
        }
        break;
      }
      case 2:
        UnlockPortBuffer(in.Handle(), in.Int());
        break;
      case 3: {
        const uint16_t h = in.Handle();
        const int32_t port = in.Int();
        GetNumPorts(h);
        GetPortCaps(h, port);
        GetNumChannels(h, port);
        break;
      }
      case 4: {
        const uint16_t h = in.Handle();
        const int32_t length = in.Int();
        SendMIDI(h, 0, length, HostBytes(in, in.Byte()));
        break;
      }
      case 5: {
        const uint16_t h = in.Handle();
        const int32_t port = in.Int();
        const int32_t count = in.Int();
        SetBlindAFChannelData(h, port, count, reinterpret_cast<const ChannelLevel*>(HostBytes(in, 4 * in.Byte())));
        break;
      }
      case 6: {
        const uint16_t h = in.Handle();
        const int32_t count = in.Byte() % 80;
        // The type texts are valid, null, or run into the unreadable page;
        // the items end where that page begins, so a count beyond them is
        // a read that the driver must refuse, never garbage it may follow.
        const char* text = reinterpret_cast<const char*>(HostBytes(in, in.Byte() % 16, /*second=*/true));
        Arena& a = Memory();
        SelectionItem* items = reinterpret_cast<SelectionItem*>(a.base + a.page) - count;
        for (int32_t i = 0; i < count; ++i) {
          const uint8_t kind = in.Byte() % 3;
          items[i] = SelectionItem{kind == 0 ? "Spot" : kind == 1 ? nullptr : text, in.Int(), in.Int(), in.Int()};
        }
        SendBlindAFSelection(h, in.Byte() % 2 == 0 ? count : in.Int(), items);
        break;
      }
      case 7: {
        const uint16_t h = in.Handle();
        const char* type = reinterpret_cast<const char*>(HostBytes(in, in.Byte() % 24));
        const int32_t spot = in.Int();
        const int32_t parts = in.Int();
        SendPatch(h, type, spot, parts, reinterpret_cast<const PatchPartInfo*>(HostBytes(in, 16 * (in.Byte() % 8))));
        break;
      }
      case 8:
        SendSpot(in.Handle(), in.Int(), in.Int());
        break;
      case 9:
        SendStartChannel(in.Handle(), in.Int(), in.Int());
        break;
      case 10:
        StartBlindAF();
        ClearBlindAF();
        break;
      default:
        FinishBlindAF();
        break;
    }
  }
  // The host gives back every hold it took.
  while (session.HostHolds() > 0) UnlockPortBuffer(5, 0);
  return 0;
}
