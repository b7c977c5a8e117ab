// The directory of connected consoles: console number -> session, ordered
// by console number, and the connection handshake.
//
// Only the host's thread uses the map (the host calls the driver from one
// thread), so it has no lock. The map owns the sessions in it.
#pragma once

#include <cstdint>
#include <map>

class PORTS;

// Creates the session of `console`, waits up to `waitMs` for its acceptance
// and enters it in the map: the console number (low 16 bits), or 0xFFFF
// when it did not answer in time or is in the map already.
uint16_t AddPortMap(int32_t console, uint32_t waitMs = 5000);
PORTS* FindPortMap(int32_t console);
// 1 when a session was found and deleted.
int RemovePortMap(int32_t console);
// Deletes every session, the lowest console number first.
void ClearPortMap();

// The map itself, for tests that watch it.
std::map<int32_t, PORTS*>& PortMap();
