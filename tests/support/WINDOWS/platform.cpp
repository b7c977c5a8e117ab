#include "../platform.h"

bool EchoReachesStderr() { return false; }


bool FailSocketWaits() { return false; }

void RestoreSocketWaits() {}

bool RefuseNewDescriptors() { return false; }
void RestoreOpenFiles() {}
