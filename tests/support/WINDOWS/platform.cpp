#include "../platform.h"

bool EchoReachesStderr() { return false; }
