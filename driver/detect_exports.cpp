// Device detection and connection: detection reports the three configured
// consoles without touching the network; Connect runs the handshake.
#include <cstdio>
#include <cstring>

#include "../sessions/port_map.h"
#include "../sessions/ports.h"
#include "../tvnLib/echo.h"
#include "driver_state.h"
#include "pvtrivane.h"

namespace {

// Fills record `Count` of the list with console DetectIndex; result 0.
int32_t AddConsole(const char* caller, uint16_t manHdl, PDIList* list) {
  PDI& record = list->Records[list->Count];
  record.ManHdl = manHdl;
  record.Data[0] = static_cast<uint8_t>(ConsoleNumbers[DetectIndex]);
  std::strcpy(record.Protocol, "DMX");
  EchoPrint("%s: ManHdl == %d,Protocol == %s", caller, record.ManHdl, record.Protocol);
  std::strcpy(record.Model, "Trivane");
  EchoPrint("%s: Model == %s", caller, record.Model);
  std::snprintf(record.Address, sizeof record.Address, "Trivane %d", DetectIndex + 1);
  EchoPrint("%s: Address == %s", caller, record.Address);
  list->Count += 1;
  DetectIndex += 1;
  return 0;
}

bool ListUsable(const char* caller, const PDIList* list) {
  if (list != nullptr) return true;
  EchoPrint("%s: Exception (no device list)", caller);
  return false;
}

}  // namespace

PV_EXTERN_C int32_t PV_CALL StartDetect(uint16_t manHdl, PDIList* list) {
  DetectIndex = 0;
  if (!ListUsable("StartDetect", list) || list->Count >= 32) return 1;
  return AddConsole("StartDetect", manHdl, list);
}

PV_EXTERN_C int32_t PV_CALL ContinueDetect(uint16_t manHdl, PDIList* list) {
  if (!ListUsable("ContinueDetect", list)) return 1;
  if (DetectIndex >= 3 || list->Count >= 32) return 1;
  return AddConsole("ContinueDetect", manHdl, list);
}

PV_EXTERN_C uint16_t PV_CALL Connect(PDI* pdi) {
  if (pdi == nullptr) {
    EchoPrint("Connect: Exception (no device record)");
    return 0xFFFF;
  }
  EchoPrint("Connect: PDI->ManHdl==%d,Protocol == %.33s ", pdi->ManHdl, pdi->Protocol);
  EchoPrint("Connect: Model == %.33s, Address== %.33s, Data[0] == %d", pdi->Model, pdi->Address, pdi->Data[0]);
  return AddPortMap(pdi->Data[0]);
}

PV_EXTERN_C void PV_CALL Disconnect(uint16_t handle) {
  if (RemovePortMap(handle) == 1) {
    EchoPrint("Disconnect %d", handle);
  } else {
    EchoPrint("Error Disconnect %d", handle);
  }
}

PV_EXTERN_C uint32_t PV_CALL GetDevCaps(void) { return GetDriverCaps(); }

PV_EXTERN_C int32_t PV_CALL GetNumPorts(uint16_t handle) { return FindPortMap(handle) != nullptr ? 64 : -1; }

PV_EXTERN_C uint32_t PV_CALL GetPortCaps(uint16_t handle, int32_t port) {
  if (!ValidPort(port) || FindPortMap(handle) == nullptr) return 0;
  return (AutofocusMode & BLIND_AUTOFOCUS) != 0 ? 0x201 : 0x1;
}

PV_EXTERN_C int32_t PV_CALL GetNumChannels(uint16_t handle, int32_t port) {
  if (!ValidPort(port)) return -1;
  PORTS* session = FindPortMap(handle);
  if (session == nullptr) return -1;
  return session->HasSniffer() ? 512 : 0;
}
