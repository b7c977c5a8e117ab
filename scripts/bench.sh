#!/usr/bin/env bash
# Every performance figure of the driver in one go, each beside its floor
# measured in the same run, and the ratio: natively, then the x86_64
# Windows build under wine64, then the product itself, the i686 DLL under
# 32-bit wine where this machine runs 32-bit programs (figures 1-6; what
# the Windows layer costs).
#
#   scripts/bench.sh                 the full run (about a quarter of an hour)
#   scripts/bench.sh --short         seconds per figure (the test command's form)
#   scripts/bench.sh --json FILE     also write the table as one JSON file
#   scripts/bench.sh --native        natively only
#   scripts/bench.sh --product       natively and the i686 DLL (no wine64 rows)
#
# Builds build/native, build/win64 and build/win32 with the benchmarks when
# needed. The
# consoles of the processor-time figures are trivane-sim processes, so that
# the measured process holds the driver and the host loop alone; under wine
# the wine server's processor time is shown as well.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

SHORT=0 JSON="" PLATFORMS=(native wine64 wine32)
while [ $# -gt 0 ]; do
  case $1 in
    --short) SHORT=1 ;;
    --json) JSON=${2:?--json needs a file}; shift ;;
    --native) PLATFORMS=(native) ;;
    --product) PLATFORMS=(native wine32) ;;
    *) echo "usage: scripts/bench.sh [--short] [--json FILE] [--native|--product]" >&2; exit 2 ;;
  esac
  shift
done
if [ $SHORT -eq 1 ]; then
  DECODE_S=0.3 LATENCY_N=1000 RATE_BURST=2000 CPU_S=2 IDLE_S=2 CONNECT_N=3 ALLOC_FRAMES=40
else
  DECODE_S=3 LATENCY_N=10000 RATE_BURST=20000 CPU_S=20 IDLE_S=30 CONNECT_N=20 ALLOC_FRAMES=200
fi
export WINEDEBUG=-all
OUT=build/bench
mkdir -p "$OUT"
: > "$OUT/results.txt"

build() {  # folder, cmake arguments...
  local dir=$1
  shift
  if [ ! -f "build/$dir/build.ninja" ] || ! grep -q 'PV_BUILD_BENCH:BOOL=ON' "build/$dir/CMakeCache.txt"; then
    cmake -S . -B "build/$dir" -G Ninja -DPV_BUILD_BENCH=ON "$@" > "build/$dir.configure.log" 2>&1 ||
      { cat "build/$dir.configure.log"; exit 1; }
  fi
  ninja -C "build/$dir" pv_bench trivane-sim > "$OUT/$dir.build.log" 2>&1 || { cat "$OUT/$dir.build.log"; exit 1; }
}

# The product runs where this machine runs 32-bit programs.
if [[ " ${PLATFORMS[*]} " == *" wine32 "* ]]; then
  probe=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$probe/t.s"
  if ! { as --32 "$probe/t.s" -o "$probe/t.o" && ld -m elf_i386 "$probe/t.o" -o "$probe/t" &&
         { "$probe/t"; [ $? -eq 42 ]; }; } > /dev/null 2>&1 || [ ! -x /usr/lib/wine/wine ]; then
    echo "this machine runs no 32-bit programs (or has no 32-bit wine): no rows for the i686 DLL" >&2
    PLATFORMS=("${PLATFORMS[@]/wine32}")
  fi
  rm -rf "$probe"
fi

build native -DCMAKE_BUILD_TYPE=RelWithDebInfo
SIM=build/native/trivane-sim
if [[ " ${PLATFORMS[*]} " == *" wine64 "* ]]; then
  build win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [[ " ${PLATFORMS[*]} " == *" wine32 "* ]]; then
  build win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
    -DPV_BUILD_TOOLS=ON -DPV_RUN_WIN32_TESTS=ON
fi

# One wine server per platform for its whole run (and only that one), so
# that its processor time can be read before and after each figure.
SERVER_KIND=""
use_server() {  # wine kind, or "" for none
  [ -n "$SERVER_KIND" ] && scripts/wine-run "$SERVER_KIND" --server -k 2> /dev/null
  SERVER_KIND=$1
  [ -n "$SERVER_KIND" ] || return 0
  scripts/wine-run "$SERVER_KIND" cmd /c exit > /dev/null 2>&1 || true
  scripts/wine-run "$SERVER_KIND" --server -k 2> /dev/null || true
  scripts/wine-run "$SERVER_KIND" --server -p
}

SIMS=()
start_sims() {  # simulator arguments per console: "1:ARGS" ...
  local console
  for console in "$@"; do
    # shellcheck disable=SC2086
    $SIM --console "${console%%:*}" ${console#*:} --quiet > "$OUT/sim-${console%%:*}.log" 2>&1 &
    SIMS+=($!)
  done
  sleep 0.5
}
stop_sims() {
  [ ${#SIMS[@]} -gt 0 ] || return 0
  kill "${SIMS[@]}" 2> /dev/null || true
  wait "${SIMS[@]}" 2> /dev/null || true
  SIMS=()
}
finish() {
  stop_sims
  use_server ""
  return 0
}
trap finish EXIT

# Processor seconds the wine server has used so far (0 natively).
server_cpu() {
  local pid
  pid=$(pgrep -x 'wineserver(64)?' | head -n 1 || true)
  [ -n "$pid" ] || { echo 0; return; }
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$pid/stat"
}

# Runs one figure on one platform and keeps its RESULT lines (`keep` 0:
# only in $OUT/last.txt). Sets SERVER_CPU to the wine server's processor
# seconds during the run (0 natively).
SERVER_CPU=0
figure() {  # platform, keep, arguments...
  local platform=$1 keep=$2
  shift 2
  local exe=build/native/pv_bench
  local run=()
  case $platform in
    wine64) exe=build/win64/pv_bench.exe run=(scripts/wine-run wine64) ;;
    wine32) exe=build/win32/pv_bench.exe run=(scripts/wine-run wine32) ;;
  esac
  local before after
  before=$(server_cpu)
  "${run[@]}" "$exe" "$@" 2> "$OUT/last.err" | tr -d '\r' > "$OUT/last.txt" || { cat "$OUT/last.err" >&2; return 1; }
  after=$(server_cpu)
  SERVER_CPU=$(awk -v a="$after" -v b="$before" 'BEGIN { print a - b }')
  [ "$keep" = 1 ] && sed -n "s/^RESULT /$platform|/p" "$OUT/last.txt" >> "$OUT/results.txt"
  return 0
}
value_of() { sed -n 's/^RESULT [^|]*|\([^|]*\)|.*/\1/p' "$OUT/last.txt" | head -n 1; }
updates_of() { sed -n 's/^UPDATES //p' "$OUT/last.txt" | head -n 1; }
wine_row() {  # platform, figure, value, floor, unit
  echo "$1|  $2|$3|$4|$5|lower" >> "$OUT/results.txt"
}

for platform in "${PLATFORMS[@]}"; do
  [ -n "$platform" ] || continue
  echo "== $platform" >&2
  case $platform in wine*) use_server "$platform" ;; *) use_server "" ;; esac
  figure "$platform" 1 decode "$DECODE_S"
  figure "$platform" 1 latency "$LATENCY_N"
  figure "$platform" 1 rate "$RATE_BURST"
  start_sims "1:--universes 64 --rate 44 --pattern fade"
  figure "$platform" 0 cpu "$CPU_S" bare
  bare=$(value_of) bareServer=$(awk -v s="$SERVER_CPU" -v u="$(updates_of)" 'BEGIN { print (u > 0 ? s * 1e6 / u : 0) }')
  figure "$platform" 1 cpu "$CPU_S" driver "$bare"
  if [ "$platform" != native ]; then
    wine_row "$platform" "wine server, per universe update" \
      "$(awk -v s="$SERVER_CPU" -v u="$(updates_of)" 'BEGIN { print (u > 0 ? s * 1e6 / u : 0) }')" "$bareServer" us
  fi
  stop_sims
  start_sims "1:--rate 0" "2:--rate 0" "3:--rate 0"
  for sessions in 1 3; do
    figure "$platform" 1 idle "$sessions" "$IDLE_S"
    if [ "$platform" != native ]; then
      wine_row "$platform" "wine server's share, per session" \
        "$(awk -v s="$SERVER_CPU" -v t="$IDLE_S" -v n="$sessions" 'BEGIN { print 100 * s / t / n }')" 0 "% of a core"
    fi
  done
  stop_sims
  figure "$platform" 1 connect "$CONNECT_N"
  if [ "$platform" = native ]; then figure native 1 allocs "$ALLOC_FRAMES"; fi
done

# The table: each figure, its floor and the ratio (a ratio above 1 means
# the driver is slower than its floor, whichever way the unit runs).
awk -F'|' '
  BEGIN { printf "%-8s %-62s %14s %14s %8s  %s\n", "platform", "figure", "driver", "floor", "ratio", "unit" }
  {
    ratio = "";
    if ($4 + 0 > 0 && $3 + 0 > 0) ratio = sprintf("%.2f", $6 == "higher" ? $4 / $3 : $3 / $4);
    printf "%-8s %-62s %14.4g %14s %8s  %s\n", $1, $2, $3, ($4 + 0 > 0 ? sprintf("%.4g", $4) : "-"), ratio, $5
  }' "$OUT/results.txt"

if [ -n "$JSON" ]; then
  awk -F'|' 'BEGIN { printf "[\n" }
    { printf "%s  {\"platform\": \"%s\", \"figure\": \"%s\", \"value\": %s, \"floor\": %s, \"unit\": \"%s\", \"better\": \"%s\"}",
             (NR > 1 ? ",\n" : ""), $1, $2, $3, $4, $5, $6 }
    END { printf "\n]\n" }' "$OUT/results.txt" > "$JSON"
  echo "written: $JSON" >&2
fi
