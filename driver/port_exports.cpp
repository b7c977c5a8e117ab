// Port buffers: the host locks a console's buffers, asks for the address of
// one port's 512 levels, reads them in place and unlocks.
#include <algorithm>

#include "../sessions/port_map.h"
#include "../sessions/ports.h"
#include "../tvnLib/echo.h"
#include "driver_state.h"
#include "pvtrivane.h"

namespace {

// Appends the decimal digits of `value` at `out`; returns the end.
char* AppendDecimal(char* out, int32_t value) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  return out;
}

// "LockPortBuffer Group %d, Universe %d": the lock's owner label, which the
// host's every lock carries. Spelled out by hand: a formatted print would
// cost more than the lock itself, at 64 ports a poll.
void OwnerLabel(char (&who)[64], uint16_t handle, int32_t port) {
  static const char kGroup[] = "LockPortBuffer Group ";
  static const char kUniverse[] = ", Universe ";
  char* p = who;
  p = std::copy(kGroup, kGroup + sizeof kGroup - 1, p);
  p = AppendDecimal(p, handle);
  p = std::copy(kUniverse, kUniverse + sizeof kUniverse - 1, p);
  p = AppendDecimal(p, port);
  *p = '\0';
}

}  // namespace

PV_EXTERN_C int32_t PV_CALL LockPortBuffer(uint16_t handle, int32_t port) {
  if (!ValidPort(port)) return -1;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return -1;
  char who[64];
  OwnerLabel(who, handle, port);
  return session->LockBuffers(who);
}

PV_EXTERN_C int32_t PV_CALL GetPortBuffer(uint16_t handle, int32_t port, uint8_t** buffer) {
  if (!ValidPort(port)) return -1;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return -1;
  return session->BufferOf(port, buffer);
}

PV_EXTERN_C int32_t PV_CALL UnlockPortBuffer(uint16_t handle, int32_t port) {
  if (!ValidPort(port)) return -1;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return -1;
  // A hold taken while a receiver ran is released even when the console has
  // shut down since; without a receiver and without a hold there is nothing
  // to release.
  if (session->UnlockBuffers() == 0) return 0;
  if (!session->HasSniffer()) return -1;
  EchoPrint("UnlockPortBuffer: buffers of %d were not locked", handle);
  return 0;
}
