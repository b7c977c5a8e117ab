#!/usr/bin/env bash
# The simulator and the test host of one build folder against each other on
# loopback: the host connects console 1, reads live levels for three
# seconds and sends blind autofocus levels and a selection. Prints the
# autofocus packets as the simulator decoded them off the wire, then one
# line with the number of different level pictures the host saw.
#
# Usage: scripts/wire_check.sh BUILD_DIR [RUNNER ...]
#   RUNNER: what runs the programs (for instance qemu-i386 -E LD_PRELOAD=...)
set -euo pipefail
# shellcheck source=loopback_settings.sh
. "$(dirname "$0")/loopback_settings.sh"
BUILD=$1
shift
RUN=("$@")
WORK=$(mktemp -d)
trap 'kill $SIM 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
write_loopback_settings "$WORK/settings.reg" '"Autofocus"=dword:00000001'
"${RUN[@]}" "$BUILD/trivane-sim" --console 1 --universes 4 --rate 40 --pattern chase --seconds 12 \
  > "$WORK/sim.log" 2>&1 &
SIM=$!
sleep 1
"${RUN[@]}" "$BUILD/previsa-host" --registry "$WORK/settings.reg" --seconds 3 \
  --blind 42:100:1=255,2=128,511=7 --port 3 --selection 5:1:Spot,6:0:Wash > "$WORK/host.json" 2> "$WORK/host.log" ||
  { cat "$WORK/host.log" >&2; exit 1; }
sleep 0.5
grep -E "PD_BLIND_AF|PD_MIDI" "$WORK/sim.log" | sed -E 's/^[^A-Z]*//' || true
pictures=$(grep '"channels":512' "$WORK/host.json" | grep -o '"levels":"[0-9a-f]*"' | sort -u | wc -l)
echo "pictures $pictures"
