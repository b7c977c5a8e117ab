#include "port_map.h"

#include <new>

#include "../tvnLib/echo.h"
#include "ports.h"

namespace {
// Created empty while the library's static data is set up; releasing it
// frees only its entries, never the sessions.
std::map<int32_t, PORTS*> g_portMap;
}  // namespace

std::map<int32_t, PORTS*>& PortMap() { return g_portMap; }

uint16_t AddPortMap(int32_t console, uint32_t waitMs) {
  if (!g_portMap.empty() && g_portMap.count(console) != 0) {
    EchoPrint("\nAddPortMap console %d already in map", console);
    return 0xFFFF;
  }
  PORTS* session = new (std::nothrow) PORTS(static_cast<uint32_t>(console));
  if (session == nullptr) {
    EchoPrint("\nAddPortMap console %d: no memory for the session", console);
    return 0xFFFF;
  }
  if (!session->Ready()) {
    EchoPrint("\nAddPortMap nicht erkannt (session not set up)");
    delete session;
    return 0xFFFF;
  }
  osClearLastError();
  const OsWaitResult result = osWait(session->hconnect_event, waitMs);
  const uint32_t waitError = osLastError();  // the wait's own, before the reset
  osEventReset(session->hconnect_event);
  if (result == kOsWaitSignaled) {
    EchoPrint("\nAddPortMap console erkannt");
    g_portMap[console] = session;
    return static_cast<uint16_t>(console);
  }
  if (result == kOsWaitTimeout) {
    EchoPrint("\nAddPortMap nicht erkannt (WAIT_TIMEOUT)");
  } else {
    EchoPrint("\nAddPortMap nicht erkannt (WAIT_FAILED, errno = %d)", static_cast<int>(waitError));
  }
  delete session;
  return 0xFFFF;
}

PORTS* FindPortMap(int32_t console) {
  if (g_portMap.empty()) return nullptr;
  const auto it = g_portMap.find(console);
  return it == g_portMap.end() ? nullptr : it->second;
}

int RemovePortMap(int32_t console) {
  if (g_portMap.empty()) return 0;
  const auto it = g_portMap.find(console);
  if (it == g_portMap.end()) return 0;
  delete it->second;
  g_portMap.erase(it);
  return 1;
}

void ClearPortMap() {
  // Every session stops first, so that none starts a receiver (or anything
  // else) while the others are being deleted.
  for (auto& entry : g_portMap) entry.second->BeginStop();
  while (!g_portMap.empty()) {
    const auto first = g_portMap.begin();
    delete first->second;
    g_portMap.erase(first);
  }
}
