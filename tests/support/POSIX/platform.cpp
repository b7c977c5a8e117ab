#include "../platform.h"

bool EchoReachesStderr() { return true; }
