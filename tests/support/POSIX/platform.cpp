#include "../platform.h"

bool EchoReachesStderr() { return true; }

#include <sys/socket.h>
#include <unistd.h>

void BreakSocket(intptr_t s) { close(static_cast<int>(s)); }

void RepairSocket(intptr_t s) {
  const int fresh = socket(AF_INET, SOCK_DGRAM, 0);
  dup2(fresh, static_cast<int>(s));
  close(fresh);
}
