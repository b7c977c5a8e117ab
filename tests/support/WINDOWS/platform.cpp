#include "../platform.h"

bool EchoReachesStderr() { return false; }

#include <winsock2.h>

void FailSocketWaits(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }

void RestoreSocketWaits() {}

bool RefuseNewDescriptors() { return false; }
void RestoreOpenFiles() {}
