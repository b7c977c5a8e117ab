#!/usr/bin/env bash
# pvtrivane-diagnose against the simulator, case by case: a console that
# streams, one that never accepts, one set to another number, an interface
# address that is not this machine's, and DMX of the wrong version. Each
# case checks the exit status and what the technician is told; the outputs
# are kept in OUT_DIR for people to read.
#
#   diagnose_test.sh NATIVE_BUILD_DIR [wine32|wine64 WINDOWS_BUILD_DIR]
#
# The simulators are always the native ones; with wine32 or wine64 the
# diagnose is that Windows build, its settings in the wine prefix's registry.
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd)
MODE=${2:-native}
WINDIR=${3:-}
OUT_DIR=$NATIVE/diagnose-$MODE
mkdir -p "$OUT_DIR"
WINE="$(dirname "$0")/../../scripts/wine-run $MODE"
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
failures=0
SIMS=()

cleanup() {
  [ ${#SIMS[@]} -gt 0 ] && kill "${SIMS[@]}" 2> /dev/null
  wait 2> /dev/null
  SIMS=()
}
trap cleanup EXIT

sim() {  # simulator arguments
  "$NATIVE/trivane-sim" --quiet "$@" > /dev/null 2>&1 &
  SIMS+=($!)
}

# Runs the diagnose with settings ip=$1, Trivane1=$2; keeps its text and
# JSON output; sets STATUS.
diagnose() {  # case, ip, console
  local name=$1 ip=$2 console=$3
  sleep 0.5
  if [ "$MODE" != native ]; then
    $WINE reg add "$KEY" /v ip /t REG_SZ /d "$ip" /f > /dev/null
    $WINE reg add "$KEY" /v Trivane1 /t REG_DWORD /d "$console" /f > /dev/null
    $WINE "$WINDIR/pvtrivane-diagnose.exe" --seconds 2 2>&1 | tr -d '\r' > "$OUT_DIR/$name.txt"
    STATUS=${PIPESTATUS[0]}
    $WINE "$WINDIR/pvtrivane-diagnose.exe" --seconds 1 --json 2>&1 | tr -d '\r' > "$OUT_DIR/$name.json"
    $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
  else
    printf 'Windows Registry Editor Version 5.00\n\n[%s]\n"ip"="%s"\n"Trivane1"=dword:%08x\n' \
      "HKEY_CURRENT_USER${KEY#HKCU}" "$ip" "$console" > "$OUT_DIR/$name.reg"
    "$NATIVE/pvtrivane-diagnose" --registry "$OUT_DIR/$name.reg" --seconds 2 > "$OUT_DIR/$name.txt" 2>&1
    STATUS=$?
    "$NATIVE/pvtrivane-diagnose" --registry "$OUT_DIR/$name.reg" --seconds 1 --json > "$OUT_DIR/$name.json" 2>&1
  fi
  cleanup
}

expect() {  # case, expected status, text that the output must contain...
  local name=$1 status=$2
  shift 2
  local ok=1 text
  [ "$STATUS" -eq "$status" ] || { echo "FAIL $name: exit $STATUS, expected $status"; ok=0; }
  for text in "$@"; do
    grep -qF -- "$text" "$OUT_DIR/$name.txt" "$OUT_DIR/$name.json" ||
      { echo "FAIL $name: no \"$text\""; ok=0; }
  done
  if [ $ok -eq 1 ]; then
    echo "ok   $name"
  else
    failures=$((failures + 1))
    cat "$OUT_DIR/$name.txt"
  fi
}

sim --console 1 --universes 8 --rate 40
diagnose streaming 127.0.0.1 1
expect streaming 0 "STREAMING" "universes (datagrams/s): 0-7:" '"streaming":1' "dropped: none"

sim --console 1 --never-accept --rate 40
diagnose never-accepting 127.0.0.1 1
expect never-accepting 1 "no PD_ACCEPT within 5 s." "Likely causes: the console's number is not 1" '"accept_ms":null'

sim --console 4 --universes 2 --rate 20
diagnose wrong-number 127.0.0.1 1
expect wrong-number 1 "A console talks as number 4 on this interface" "set Trivane1 = 4" '"4":{"configured":false'

diagnose wrong-interface 198.51.100.1 1
expect wrong-interface 1 "198.51.100.1 is not an address of this machine" "This machine's IPv4 interfaces:" \
  '"on_this_machine":false' "heartbeat could not be sent"

sim --console 1 --universes 4 --rate 40 --dmx-version 6
diagnose wrong-version 127.0.0.1 1
expect wrong-version 1 "wrong version" "another protocol version than 7" "NOT STREAMING" '"wrong version":'

[ $failures -eq 0 ] || { echo "$failures case(s) failed; outputs in $OUT_DIR"; exit 1; }
echo "all diagnose cases passed; outputs in $OUT_DIR"
