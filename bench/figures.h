// The figures of pv_bench, each printed as RESULT lines beside its floor
// (see bench_util.h). Durations and counts come from the command line, so
// that scripts/bench.sh can run a short form.
#pragma once

#include <cstdint>

// 1. Decoding, full and sparse, against memcpy of the same levels.
void DecodeFigures(double seconds);
// 2. Send to level visible through Lock/GetPortBuffer/Unlock, p50/p99/max,
//    against a bare receive on the same group and port.
void LatencyFigures(int samples);
// 3. Highest loss-free rate with 64 universes, full and sparse, against the
//    bare receiver; `burst` datagrams per step.
void RateFigures(int burst);
// 4. Processor time per universe update while a console (another process)
//    streams to console 1: the driver's threads, and with them a host
//    polling all 64 ports at 40 Hz, beside `bareUs` (the same figure of a
//    receiver doing recvfrom and memcpy, which `bare` measures).
void CpuFigure(bool bare, double seconds, double bareUs);
// 5. Processor time of `sessions` connected sessions (consoles 1..n, other
//    processes, streaming nothing) over `seconds`.
void IdleFigure(int sessions, double seconds);
// 6. Connect after the console's acceptance (its return, and the first
//    level visible), and Disconnect, over `cycles` cycles.
void ConnectFigures(int cycles);
// 7. Heap allocations per datagram and per heartbeat (POSIX, where malloc
//    can be counted).
void AllocationFigures(int frames);
