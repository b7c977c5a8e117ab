#include "../platform.h"

bool EchoReachesStderr() { return false; }

#include <winsock2.h>

void BreakSocket(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }

void RepairSocket(intptr_t) {}
