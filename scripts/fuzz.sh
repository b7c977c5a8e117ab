#!/usr/bin/env bash
# Runs one libFuzzer target for a while on its seed corpus.
#
#   scripts/fuzz.sh TARGET SECONDS     TARGET: decode | regfile | control | host
#
# Builds build/fuzz with clang (address and undefined-behaviour sanitizers)
# when needed. The working corpus grows in build/fuzz/corpus-TARGET; a
# finding is written to build/fuzz/found-TARGET and ends the run with a
# non-zero status.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
TARGET=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
SECONDS_LIMIT=${2:?usage: scripts/fuzz.sh TARGET SECONDS}
case $TARGET in
  decode) MAX_LEN=1600 ;;
  regfile) MAX_LEN=8192 ;;
  control) MAX_LEN=4096 ;;
  host) MAX_LEN=4096 ;;
  *) echo "fuzz.sh: unknown target $TARGET (decode, regfile, control, host)" >&2; exit 2 ;;
esac
if [ ! -f build/fuzz/build.ninja ]; then
  mkdir -p build
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPV_SANITIZE=fuzzer -DPV_BUILD_FUZZ=ON -DPV_BUILD_TESTS=OFF -DPV_BUILD_TOOLS=OFF > build/fuzz.configure.log
fi
# One build at a time: two targets may be run at once.
flock build/fuzz.lock ninja -C build/fuzz > "build/fuzz.build-$TARGET.log" 2>&1 ||
  { cat "build/fuzz.build-$TARGET.log"; exit 1; }
CORPUS=build/fuzz/corpus-$TARGET
FOUND=build/fuzz/found-$TARGET
mkdir -p "$CORPUS" "$FOUND"
if [ "$TARGET" = decode ]; then
  build/fuzz/make_seeds "$CORPUS"
else
  cp "fuzz/seeds/$TARGET"/* "$CORPUS"/
fi
cd "$FOUND"
"../${TARGET}_fuzz" -max_total_time="$SECONDS_LIMIT" -max_len="$MAX_LEN" -print_final_stats=1 "../corpus-$TARGET"
