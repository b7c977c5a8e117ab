#!/usr/bin/env bash
# The project's one test command: installs what is missing, then builds and
# tests every target from nothing.
#
#   native   libPvTrivane.so, tools, unit and integration tests, benchmarks
#   tsan     the tests under ThreadSanitizer
#   asan     the tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   win32    PvTrivane.dll for i686 (the product) with its tools and tests,
#            run under 32-bit wine where this machine runs 32-bit programs;
#            elsewhere its export and import tables only
#   win64    the x86_64 DLL, tools and tests, run under wine64
#   linux32  the i386 library, tools and tests, run natively where 32-bit
#            programs run, else under qemu-i386
#   fuzz     each fuzz target for a bounded time (FUZZ_SECONDS each, 30)
#   demo     the simulator and the test host against each other
#   bench    scripts/bench.sh --short --product: every performance figure,
#            briefly, natively and for the i686 DLL
#   package  scripts/package.sh; the DLL rebuilt elsewhere, byte for byte; the
#            installer under wine (silent, upgrade, uninstall; its pages seen)
#
# Usage: scripts/test.sh [stage ...]   (default: every stage, in this order;
# with more than one, the later stages' folders are built in the background
# at the lowest priority while the earlier ones test)
# Build folders: build/<stage>. Needs root only to install packages.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
STAGES=("$@")
[ ${#STAGES[@]} -gt 0 ] || STAGES=(native tsan asan win32 win64 linux32 fuzz demo bench package)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
# The soak tests' length (storm duration, connection cycles, flood sizes);
# the slower builds run a fraction of it.
PV_SOAK_SCALE=${PV_SOAK_SCALE:-1}
JOBS=${JOBS:-$(nproc)}
export WINEDEBUG=-all
WINE32="$ROOT/scripts/wine-run wine32"
WINE64="$ROOT/scripts/wine-run wine64"

log() { printf '\n=== %s  [%s]\n' "$*" "$(date +%H:%M:%S)"; }

# ---------------------------------------------------------------- packages

PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64
          qemu-user g++-multilib tshark tcpdump xvfb imagemagick x11-utils xdotool
          nsis zip dpkg-dev libpcap-dev iproute2)

# Whether this machine runs 32-bit x86 programs: a tiny one, assembled and
# linked here, must run and exit with its code. Some kernels are built
# without that support, whatever their name says.
runs_32bit_programs() {
  local dir status=0
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' > "$dir/t.s"
  { as --32 "$dir/t.s" -o "$dir/t.o" && ld -m elf_i386 "$dir/t.o" -o "$dir/t"; } > /dev/null 2>&1 || status=1
  [ $status -eq 0 ] && { "$dir/t" > /dev/null 2>&1; [ $? -eq 42 ]; } || status=1
  rm -rf "$dir"
  return $status
}
RUNS_32BIT=0
runs_32bit_programs && RUNS_32BIT=1
# 32-bit wine runs the product itself where the machine runs 32-bit programs.
[ $RUNS_32BIT -eq 1 ] && PACKAGES+=(wine32:i386)

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

ensure_packages() {
  local missing
  missing=$(missing_packages | tr '\n' ' ')
  [ -z "${missing// /}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: $missing"
    echo "install them (as root: apt-get install -y --no-install-recommends $missing) and run again"
    exit 1
  fi
  log "installing: $missing"
  case " $missing " in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  apt-get update -q
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

# ---------------------------------------------------------------- stages

configure_and_build() {  # folder, cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "build/$dir" -G Ninja "$@" > "build/$dir.configure.log" 2>&1 ||
    { cat "build/$dir.configure.log"; return 1; }
  ninja -C "build/$dir" -j "$JOBS"
}

# Each stage's build folder and its configuration, in one place: the stage
# and the background builder (prebuild) build the same.
build_stage() {  # stage
  local args=()
  case $1 in
    native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_BUILD_BENCH=ON) ;;
    tsan) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_SANITIZE=thread -DPV_BUILD_TOOLS=ON) ;;
    asan) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_SANITIZE=address) ;;
    win32)
      args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release)
      if [ $RUNS_32BIT -eq 1 ]; then args+=(-DPV_BUILD_TOOLS=ON -DPV_BUILD_BENCH=ON -DPV_RUN_WIN32_TESTS=ON)
      else args+=(-DPV_BUILD_TOOLS=OFF -DPV_RUN_WIN32_TESTS=OFF); fi ;;
    win64) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
                 -DPV_BUILD_BENCH=ON) ;;
    linux32) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386-linux.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
                   -DPV_I386_NATIVE=$([ $RUNS_32BIT -eq 1 ] && echo ON || echo OFF)) ;;
    fuzz) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPV_SANITIZE=fuzzer -DPV_BUILD_FUZZ=ON -DPV_BUILD_TESTS=OFF
                -DPV_BUILD_TOOLS=OFF) ;;
  esac
  # One build of a folder at a time (the stage may reach a folder that the
  # background builder is building: it waits, then finds it done).
  (
    # A stage that waits for the background builder lends it its priority
    # for as long as it waits.
    if ! flock -n 9; then
      prebuild_nice 0
      flock 9
      prebuild_nice 19
    fi
    if [ "$1" = fuzz ]; then CC=clang CXX=clang++ configure_and_build fuzz "${args[@]}"
    else configure_and_build "$1" "${args[@]}"; fi
  ) 9> "build/$1.lock"
}

# The background builder's priority: its processes' nice value, and that of
# its session's scheduling group (with automatic grouping, the kernel shares
# the processor between sessions first, whatever their processes' nice).
prebuild_nice() {  # nice value
  [ -n "${PREBUILD:-}" ] || return 0
  renice -n "$1" -g "$PREBUILD" > /dev/null 2>&1 || true
  # Its group only once it leads a session of its own (before, the group
  # would be this script's).
  local i stat=()
  for i in $(seq 100); do
    read -r -a stat < "/proc/$PREBUILD/stat" 2> /dev/null || return 0
    [ "${stat[5]}" = "$PREBUILD" ] && break
    sleep 0.01
  done
  [ "${stat[5]}" = "$PREBUILD" ] && [ -w "/proc/$PREBUILD/autogroup" ] &&
    echo "$1" > "/proc/$PREBUILD/autogroup" 2> /dev/null || true
}

# The later stages' folders, built in the background at the lowest priority
# while the earlier stages test (which mostly wait on sockets and timers):
# the tests keep the processor whenever they want it.
prebuild() {  # stages...
  local stage
  for stage in "$@"; do
    case $stage in native | tsan | asan | win32 | win64 | linux32 | fuzz) build_stage "$stage" || true ;; esac
  done
}

run_ctest() {  # folder [soak fraction] [ctest arguments...]
  local dir=$1 fraction=${2:-1}
  shift $(( $# < 2 ? $# : 2 ))
  local scale
  scale=$(awk -v s="$PV_SOAK_SCALE" -v f="$fraction" 'BEGIN { print s * f }')
  # The field tools' tests (label tools, which mostly wait) run beside the
  # others, in a network namespace of their own, so that neither side sees
  # the other's datagrams. (grep -c reads all that ctest writes: a grep that
  # ends early would fail the pipe.)
  if [ $# -eq 0 ] && [ -n "${PV_TEST_NETNS:-}" ] &&
    [ "$(cd "build/$dir" && ctest -N -L tools | grep -c 'Test *#')" -gt 0 ]; then
    local ns="pvtools$$" status=0
    ip netns add "$ns" && ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" bash -c "cd build/$dir && PV_SOAK_SCALE=$scale ctest --output-on-failure --timeout 1500 -L tools" \
      > "build/$dir.tools.log" 2>&1 &
    local tools=$!
    (cd "build/$dir" && PV_SOAK_SCALE=$scale ctest --output-on-failure --timeout 1500 -LE tools) || status=1
    wait $tools || status=1
    cat "build/$dir.tools.log"
    ip netns delete "$ns"
    return $status
  fi
  (cd "build/$dir" && PV_SOAK_SCALE=$scale ctest --output-on-failure --timeout 1500 "$@")
}

stage_native() {
  build_stage native
  run_ctest native
  log "micro-benchmarks (short run)"
  build/native/pool_bench --benchmark_min_time=0.05
  build/native/decode_bench --benchmark_min_time=0.05
}

stage_tsan() {
  build_stage tsan
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan
}

stage_asan() {
  build_stage asan
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" run_ctest asan
}

stage_win32() {
  if [ $RUNS_32BIT -eq 0 ]; then
    echo "this machine runs no 32-bit programs: the i686 DLL is built and its tables checked, nothing of it runs"
    build_stage win32
    run_ctest win32
    echo "product: build/win32/PvTrivane.dll"
    return
  fi
  build_stage win32
  $WINE32 cmd /c exit > /dev/null 2>&1 || true
  # The field tools and the host beside the CTest suite: a prefix of their
  # own (its wine server holds their sockets) in a namespace of their own.
  beside build/win32.tools.log "$ROOT/build/wine32-tools-prefix" windows_tools_and_host wine32 win32
  local status=0
  run_ctest win32 0.2 || status=1
  wait_beside || status=1
  echo "product: build/win32/PvTrivane.dll"
  return $status
}

# Runs a function of this script in the background, in a network namespace
# of its own and with its own wine prefix; wait_beside waits for it, shows
# its output and fails when it failed.
BESIDE_PID="" BESIDE_NS="" BESIDE_LOG="" BESIDE_PREFIX=""
beside() {  # log file, wine prefix, function, arguments...
  BESIDE_LOG=$1 BESIDE_PREFIX=$2 BESIDE_NS="pvbeside$$"
  ip netns add "$BESIDE_NS" && ip netns exec "$BESIDE_NS" ip link set lo up
  PV_WINEPREFIX=$2 ip netns exec "$BESIDE_NS" "$ROOT/scripts/test.sh" --call "${@:3}" > "$BESIDE_LOG" 2>&1 &
  BESIDE_PID=$!
}
wait_beside() {
  local status=0
  wait "$BESIDE_PID" || status=1
  log "beside: $BESIDE_LOG"
  cat "$BESIDE_LOG"
  [ ! -d "$BESIDE_PREFIX" ] || WINEPREFIX=$BESIDE_PREFIX /usr/lib/wine/wineserver -k > /dev/null 2>&1 || true
  ip netns delete "$BESIDE_NS"
  return $status
}

stage_win64() {
  build_stage win64
  # The first start of wine makes its prefix: done before the timed tests.
  $WINE64 cmd /c exit > /dev/null 2>&1 || true
  # Every datagram costs a round trip to the wine server: a fifth of the soak.
  run_ctest win64 0.2
  # The field tools are tried on the product (win32) where 32-bit programs
  # run; elsewhere on this build, so that every Windows tool runs somewhere.
  if [ $RUNS_32BIT -eq 1 ]; then windows_host wine64 win64
  else windows_tools_and_host wine64 win64; fi
}

# A Windows build's test host with its driver under wine (kind), against the
# native simulator: live levels arrive, and the autofocus packets are byte
# for byte the native pair's.
windows_host() {  # wine kind, build folder
  local kind=$1 dir=$2
  [ -x build/native/trivane-sim ] || build_stage native
  log "previsa-host.exe ($dir) under $kind against the native trivane-sim"
  scripts/wire_check.sh build/native > build/wire-native.txt
  scripts/wire_check.sh --wine "$kind" "build/$dir" build/native > "build/wire-$dir.txt"
  cat "build/wire-$dir.txt"
  diff <(grep -v '^pictures' build/wire-native.txt) <(grep -v '^pictures' "build/wire-$dir.txt")
  [ "$(grep -c '^PD_BLIND_AF' "build/wire-$dir.txt")" -eq 2 ]
  [ "$(sed -n 's/^pictures //p' "build/wire-$dir.txt")" -gt 3 ]
}

# The host as above, and the field tools: diagnose, config, the echo window.
windows_tools_and_host() {  # wine kind, build folder
  local kind=$1 dir=$2
  windows_host "$kind" "$dir"
  log "pvtrivane-diagnose.exe and pvtrivane-config.exe ($dir) under $kind"
  tests/tools/diagnose_test.sh build/native "$kind" "build/$dir"
  tests/tools/config_test.sh "build/$dir" "$kind"
  tests/tools/show_test.sh build/native "$kind" "build/$dir"
  log "the echo window under $kind on a virtual display (screenshots in build/$dir/echo-window)"
  tests/tools/echo_window_test.sh build/native "build/$dir" "$kind"
}

# The i386 Linux build: natively where this machine runs 32-bit programs,
# else under user-mode emulation (the CTest emulator of the toolchain file,
# with its multicast shim); its simulator and host against the native pair.
stage_linux32() {
  local runner=()
  [ -x build/native/previsa-host ] || build_stage native
  build_stage linux32
  if [ $RUNS_32BIT -eq 1 ]; then
    run_ctest linux32 0.5
  else
    echo "this machine runs no 32-bit programs: the i386 tests run under qemu-i386"
    # Emulated: a third of the soak, its memory the emulator's; the network
    # namespaces' links are not the emulator's loopback shim's, and the field
    # tools' tests start the tools as programs, which only the emulator runs.
    # qemu 7.2's user mode refuses IP_MULTICAST_ALL and passes no sender or
    # destination of a received datagram (recvmsg), which the receivers'
    # per-sender counts and the tests' own consoles rely on, and it delivers
    # a forced end to a thread late: those cases run in the native builds.
    PV_EMULATED=1 GTEST_FILTER='-Sniffer.ReceiversJoinAtOnce*:Autofocus.*:Stuck.*' run_ctest linux32 0.3 -LE 'netns|tools'
    runner=(qemu-i386 -E LD_PRELOAD="$ROOT/build/linux32/libpv_qemu_shim.so")
  fi
  log "i386 trivane-sim and previsa-host against the native pair"
  scripts/wire_check.sh build/native > build/wire-native.txt
  scripts/wire_check.sh build/linux32 "${runner[@]}" > build/wire-linux32.txt
  cat build/wire-linux32.txt
  # The autofocus packets decode the same off the wire; live levels arrive.
  diff <(grep -v '^pictures' build/wire-native.txt) <(grep -v '^pictures' build/wire-linux32.txt)
  [ "$(grep -c '^PD_BLIND_AF' build/wire-linux32.txt)" -eq 2 ]
  [ "$(sed -n 's/^pictures //p' build/wire-linux32.txt)" -gt 3 ]
}

stage_fuzz() {
  build_stage fuzz
  # Two at a time (one core each): a target without sockets beside one that
  # runs a live session on loopback.
  local pair status=0
  for pair in "decode control" "regfile host"; do
    set -- $pair
    log "fuzz $1 and $2 for $FUZZ_SECONDS s"
    scripts/fuzz.sh "$1" "$FUZZ_SECONDS" > "build/fuzz-$1.log" 2>&1 &
    scripts/fuzz.sh "$2" "$FUZZ_SECONDS" > "build/fuzz-$2.log" 2>&1 || status=1
    wait $! || status=1
    tail -n 25 "build/fuzz-$1.log" "build/fuzz-$2.log"
  done
  return $status
}

# Every figure of scripts/bench.sh, briefly, natively and for the product
# (the i686 DLL under 32-bit wine), so that the benchmarks never rot; the
# targets and the wine64 rows are read from the full run (scripts/bench.sh).
stage_bench() {
  scripts/bench.sh --short --product --json build/bench/short.json
}

stage_demo() {
  [ -x build/native/previsa-host ] || build_stage native
  scripts/demo.sh --seconds 4 --json > build/demo.json
  local frames pictures
  frames=$(grep -c '^{"frame"' build/demo.json || true)
  pictures=$(grep '"channels":512' build/demo.json | grep -o '"levels":"[0-9a-f]*"' | sort -u | wc -l)
  echo "demo: $frames frames, $pictures different level pictures of universe 0"
  [ "$pictures" -gt 3 ]
}

# The release packages, made from nothing and tried as a user would.
stage_package() {
  ensure_wine32
  scripts/package.sh
  log "PvTrivane.dll built twice more, from copies of the sources in other folders"
  tests/package/reproducible_test.sh build/package/win32/PvTrivane.dll
  log "the installer under wine in a fresh prefix"
  tests/package/installer_test.sh build/dist build/package/stage build/package/linux
  log "the installer's pages on a virtual display (screenshots in build/package/installer-screens)"
  tests/package/installer_screens.sh build/dist
}

# 32-bit wine, where this machine runs 32-bit programs (the installer test
# falls back to wine64 elsewhere).
ensure_wine32() {
  [ -x /usr/lib/wine/wine ] || [ "$(id -u)" -ne 0 ] && return 0
  printf '.globl _start\n_start: movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' > build/i386.s
  as --32 build/i386.s -o build/i386.o && ld -m elf_i386 build/i386.o -o build/i386 || return 0
  local status=0
  build/i386 2> /dev/null || status=$?
  [ $status -eq 7 ] || return 0
  log "installing wine32:i386"
  dpkg --add-architecture i386 && apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends wine32:i386
}

# An internal call: one function of this script (see beside).
if [ "${1:-}" = --call ]; then
  shift
  "$@"
  exit
fi
ensure_packages
# Other programs on this machine may use the driver's groups and ports, and
# the tests count datagrams: the stages run in a network namespace of their
# own, whose loopback carries only their traffic.
if [ -z "${PV_TEST_NETNS:-}" ] && [ "$(id -u)" -eq 0 ] && ip netns add "pvtest$$" 2> /dev/null; then
  status=0
  ip netns exec "pvtest$$" ip link set lo up &&
    PV_TEST_NETNS="pvtest$$" ip netns exec "pvtest$$" "$0" "$@" || status=$?
  ip netns delete "pvtest$$"
  exit $status
fi
[ -n "${PV_TEST_NETNS:-}" ] ||
  echo "no network namespace of its own (needs root and ip netns): strangers on this loopback can fail the tests"
mkdir -p build
started=$(date +%s)
if [ ${#STAGES[@]} -gt 1 ]; then
  # A process group of its own, so that its compilers end with it.
  nice -n 19 setsid "$ROOT/scripts/test.sh" --call prebuild "${STAGES[@]:1}" > build/prebuild.log 2>&1 &
  PREBUILD=$!
  prebuild_nice 19
  trap 'kill -- -$PREBUILD 2> /dev/null || true' EXIT
fi
for stage in "${STAGES[@]}"; do
  log "stage $stage"
  "stage_$stage"
done
log "all stages passed in $(( $(date +%s) - started )) s: ${STAGES[*]}"
