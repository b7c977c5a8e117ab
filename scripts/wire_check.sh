#!/usr/bin/env bash
# The simulator and the test host against each other on loopback: the host
# connects console 1, reads live levels for three seconds and sends blind
# autofocus levels and a selection. Prints the autofocus packets as the
# simulator decoded them off the wire, then one line with the number of
# different level pictures the host saw.
#
#   scripts/wire_check.sh BUILD_DIR [RUNNER ...]
#       both programs of BUILD_DIR; RUNNER runs them (for instance
#       qemu-i386 -E LD_PRELOAD=...)
#   scripts/wire_check.sh --wine wine32|wine64 WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
#       the Windows test host and driver under that wine (settings in the
#       prefix's registry) against the native simulator
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=loopback_settings.sh
. "$ROOT/scripts/loopback_settings.sh"
WINE_KIND=""
if [ "${1:-}" = --wine ]; then
  WINE_KIND=$2 HOST_BUILD=$3 SIM_BUILD=$4
  SIM_RUN=() HOST_RUN=("$ROOT/scripts/wine-run" "$WINE_KIND")
else
  SIM_BUILD=$1 HOST_BUILD=$1
  shift
  SIM_RUN=("$@") HOST_RUN=("$@")
fi
KEY='HKCU\Software\Orvell Stagecraft'
WORK=$(mktemp -d)
cleanup() {
  kill "${SIM:-}" 2> /dev/null || true
  wait 2> /dev/null || true
  [ -n "$WINE_KIND" ] && "${HOST_RUN[@]}" reg delete "$KEY" /f > /dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
HOST_ARGS=(--seconds 3 --blind 42:100:1=255,2=128,511=7 --port 3 --selection 5:1:Spot,6:0:Wash)
if [ -n "$WINE_KIND" ]; then
  settings="$KEY\\Trivane - Previsa Protocol Driver\\Settings"
  "${HOST_RUN[@]}" reg add "$settings" /v ip /t REG_SZ /d 127.0.0.1 /f > /dev/null
  "${HOST_RUN[@]}" reg add "$settings" /v Trivane1 /t REG_DWORD /d 1 /f > /dev/null
  "${HOST_RUN[@]}" reg add "$settings" /v Autofocus /t REG_DWORD /d 1 /f > /dev/null
  HOST=$HOST_BUILD/previsa-host.exe
else
  write_loopback_settings "$WORK/settings.reg" '"Autofocus"=dword:00000001'
  HOST_ARGS+=(--registry "$WORK/settings.reg")
  HOST=$HOST_BUILD/previsa-host
fi
"${SIM_RUN[@]}" "$SIM_BUILD/trivane-sim" --console 1 --universes 4 --rate 40 --pattern chase --seconds 12 \
  > "$WORK/sim.log" 2>&1 &
SIM=$!
sleep 1
"${HOST_RUN[@]}" "$HOST" "${HOST_ARGS[@]}" 2> "$WORK/host.log" | tr -d '\r' > "$WORK/host.json" ||
  { cat "$WORK/host.log" >&2; exit 1; }
sleep 0.5
grep -E "PD_BLIND_AF|PD_MIDI" "$WORK/sim.log" | sed -E 's/^[^A-Z]*//' || true
pictures=$(grep '"channels":512' "$WORK/host.json" | grep -o '"levels":"[0-9a-f]*"' | sort -u | wc -l)
echo "pictures $pictures"
