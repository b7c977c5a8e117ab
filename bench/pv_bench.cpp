// pv_bench: the driver's performance figures, each beside its floor, as
// RESULT lines that scripts/bench.sh gathers into one table.
//
//   pv_bench decode SECONDS          1. decoding against memcpy
//   pv_bench latency SAMPLES         2. send to level visible against a bare receive
//   pv_bench rate BURST              3. loss-free rate against a bare receiver
//   pv_bench cpu SECONDS bare        4. processor time per universe update: the floor,
//   pv_bench cpu SECONDS driver US      then the driver beside it
//   pv_bench idle SESSIONS SECONDS   5. processor time of idle sessions
//   pv_bench connect CYCLES          6. Connect and Disconnect
//   pv_bench allocs FRAMES           7. heap allocations per datagram and heartbeat
//
// Figures 4 and 5 need consoles in other processes (trivane-sim).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_util.h"
#include "figures.h"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  auto number = [&](int i, double fallback) { return argc > i ? std::atof(argv[i]) : fallback; };
  StartDriverRuntime();
  int status = 0;
  if (what == "decode") {
    DecodeFigures(number(2, 3));
  } else if (what == "latency") {
    LatencyFigures(static_cast<int>(number(2, 10000)));
  } else if (what == "rate") {
    RateFigures(static_cast<int>(number(2, 20000)));
  } else if (what == "cpu" && argc > 3) {
    CpuFigure(std::string(argv[3]) == "bare", number(2, 20), number(4, 0));
  } else if (what == "idle") {
    IdleFigure(static_cast<int>(number(2, 1)), number(3, 30));
  } else if (what == "connect") {
    ConnectFigures(static_cast<int>(number(2, 20)));
  } else if (what == "allocs") {
    AllocationFigures(static_cast<int>(number(2, 200)));
  } else {
    std::fprintf(stderr, "usage: pv_bench decode|latency|rate|cpu SECONDS bare|cpu SECONDS driver FLOOR|idle|connect|allocs [numbers]\n");
    status = 2;
  }
  StopDriverRuntime();
  return status;
}
