// The local port of a bound socket, for telling a program's own datagrams
// from others' when multicast loops them back. One implementation per
// platform (tools/POSIX, tools/WINDOWS).
#pragma once

#include <cstdint>

#include "../tvnLib/os_net.h"

// The port `s` is bound to (host order), 0 when it cannot be read.
uint16_t LocalPort(OsSocket s);
