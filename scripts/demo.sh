#!/usr/bin/env bash
# Shows the driver's main road: a simulated Trivane console streams DMX on
# loopback and the test host loads libPvTrivane.so, connects the console and
# shows the live levels. Builds what is needed first. Ctrl-C ends it.
#
# Usage: scripts/demo.sh [--seconds S] [--json] [--universes U] [--pattern P]
set -euo pipefail
# shellcheck source=loopback_settings.sh
. "$(dirname "$0")/loopback_settings.sh"

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SECONDS_ARG=()
HOST_MODE=(--view)
UNIVERSES=8
PATTERN=chase
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) SECONDS_ARG=(--seconds "$2"); shift 2 ;;
    --json) HOST_MODE=(); shift ;;
    --universes) UNIVERSES=$2; shift 2 ;;
    --pattern) PATTERN=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ ${#SECONDS_ARG[@]} -gt 0 ] || HOST_MODE=()  # without a limit the view runs until Ctrl-C

BUILD=build/native
if [ ! -x $BUILD/previsa-host ] || [ ! -x $BUILD/trivane-sim ] || [ ! -f $BUILD/libPvTrivane.so ]; then
  echo "building the driver and the tools in $BUILD ..." >&2
  cmake -S . -B $BUILD -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  ninja -C $BUILD PvTrivane previsa-host trivane-sim > /dev/null
fi

WORK=$(mktemp -d)
trap 'kill $SIM 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
write_loopback_settings "$WORK/settings.reg"

$BUILD/trivane-sim --console 1 --interface 127.0.0.1 --universes "$UNIVERSES" --pattern "$PATTERN" \
  --rate 40 --quiet > "$WORK/sim.log" 2>&1 &
SIM=$!
sleep 0.3
if [ ${#SECONDS_ARG[@]} -eq 0 ]; then
  $BUILD/previsa-host --registry "$WORK/settings.reg" "${HOST_MODE[@]}"
else
  $BUILD/previsa-host --registry "$WORK/settings.reg" "${SECONDS_ARG[@]}" "${HOST_MODE[@]}"
fi
