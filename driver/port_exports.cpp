// Port buffers: the host locks a console's buffers, asks for the address of
// one port's 512 levels, reads them in place and unlocks.
#include <cstdio>

#include "../sessions/port_map.h"
#include "../sessions/ports.h"
#include "../tvnLib/echo.h"
#include "driver_state.h"
#include "pvtrivane.h"

PV_EXTERN_C int32_t PV_CALL LockPortBuffer(uint16_t handle, int32_t port) {
  if (!ValidPort(port)) return -1;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return -1;
  char who[64];
  std::snprintf(who, sizeof who, "LockPortBuffer Group %d, Universe %d", handle, port);
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
