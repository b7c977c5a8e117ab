#!/usr/bin/env bash
# pvtrivane-diagnose against the simulator and the test host, case by case:
# it listens without sending anything unless nothing is heard (or --active),
# and tells what streams, what not and why. Each case checks the exit status
# and what the technician is told; the outputs are kept in OUT_DIR for people
# to read.
#
#   diagnose_test.sh NATIVE_BUILD_DIR [wine32|wine64 WINDOWS_BUILD_DIR]
#
# The simulators and the test host are always the native ones; with wine32
# or wine64 the diagnose is that Windows build, its settings in the wine
# prefix's registry. The case on another interface makes a network
# namespace with a veth pair (root only; skipped otherwise).
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd)
MODE=${2:-native}
WINDIR=${3:-}
OUT_DIR=$NATIVE/diagnose-$MODE
rm -rf "$OUT_DIR" && mkdir -p "$OUT_DIR"
source "$(dirname "$0")/common.sh"

# Runs the diagnose with the case's settings and options; keeps its text
# and JSON; sets STATUS; stops the case's programs.
diagnose() {  # diagnose options...
  sleep 0.5
  local registry=()
  [ "$MODE" = native ] && registry=(--registry "$OUT_DIR/$CASE.reg")
  tool pvtrivane-diagnose "${registry[@]}" --seconds 2 --json-file "$(winepath_of "$OUT_DIR/$CASE.json")" "$@" 2>&1 |
    tr -d '\r' > "$OUT_DIR/$CASE.txt"
  STATUS=${PIPESTATUS[0]}
  cleanup
}

# Checks the status and the texts (in the words or the JSON); a text that
# starts with ! must not be there.
expect() {  # expected status, texts...
  local status=$1 ok=1 text
  shift
  [ "$STATUS" -eq "$status" ] || { echo "FAIL $CASE: exit $STATUS, expected $status"; ok=0; }
  for text in "$@"; do
    if [ "${text:0:1}" = '!' ]; then
      ! grep -qF -- "${text:1}" "$OUT_DIR/$CASE.txt" "$OUT_DIR/$CASE.json" || { echo "FAIL $CASE: \"${text:1}\" is there"; ok=0; }
    else
      grep -qF -- "$text" "$OUT_DIR/$CASE.txt" "$OUT_DIR/$CASE.json" || { echo "FAIL $CASE: no \"$text\""; ok=0; }
    fi
  done
  if [ $ok -eq 1 ]; then
    echo "ok   $CASE"
  else
    failures=$((failures + 1))
    cat "$OUT_DIR/$CASE.txt"
  fi
}
# Passive cases: the console never heard a heartbeat.
unasked() { ! grep -q PD_HEARTBEAT "$OUT_DIR/$CASE.sim" && echo "sent nothing" >> "$OUT_DIR/$CASE.txt"; }

CASE=streaming; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 8 --rate 40
diagnose; unasked
expect 0 "STREAMING" "sent nothing" "without sending anything (passive)" "universes (datagrams/s): 0-7:" \
  "lost (no datagram for over 2 s): none" '"streaming":1' "dropped: none" "whether it accepts a driver was not tried"

CASE=never-accepting; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --never-accept --rate 40
diagnose --active
expect 1 "no PD_ACCEPT within 5 s." "Likely causes: the console's number is not 1" '"accept_ms":null' "(--active)"

CASE=wrong-number; settings ip=127.0.0.1 Trivane1=1
sim --console 4 --universes 2 --rate 20
diagnose
expect 1 "A console talks as number 4 on this interface" "set Trivane1 = 4" '"4":{"configured":false' \
  "nothing was heard from it, so diagnose asked it"

CASE=wrong-interface; settings ip=198.51.100.1 Trivane1=1
diagnose
expect 1 "198.51.100.1 is not an address of this machine" "This machine's IPv4 interfaces:" \
  '"on_this_machine":false' "heartbeat could not be sent"

# What the driver would drop, and what to do about it.
CASE=wrong-version; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 4 --rate 40 --dmx-version 6
diagnose; unasked
expect 1 "wrong version" "another protocol version than 7" "NOT STREAMING" '"wrong version":' "sent nothing"
CASE=other-type; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 1 --rate 20 --dmx-type 23
diagnose
expect 1 "datagrams with other type" 'Set the console'"'"'s DMX output to the newer format' "NOT STREAMING"

# Accepted, then shut down while diagnose watched: the driver's receiver is
# gone, so nothing streams any more, however much was decoded before.
CASE=shut-down; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 2 --rate 40 --shutdown-after 1200
diagnose --active
expect 1 "SHUT DOWN during the watch: PD_SHUTDOWN 1" "NOT STREAMING (shut down)" '"shut_down":true'

# A console that stops streaming during the watch: its universes are lost.
CASE=lost; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 2 --rate 40 --seconds 2.5
diagnose --seconds 5
expect 1 "lost (no datagram for over 2 s): 0 (last seen" '"lost":true' "NOT STREAMING"

# Two consoles with the same number stream into the same universes.
CASE=two-senders; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 2 --rate 40
sim --console 1 --universes 1 --rate 10 --never-accept
diagnose
expect 1 "TWO SENDERS stream to console 1's group" "Give one of them another number" "STREAMING FROM 2 SENDERS"

# One number entered twice, the autofocus choice; nothing sent (--passive).
CASE=settings; settings ip=127.0.0.1 Trivane1=3 Trivane2=3 Autofocus=2
diagnose --passive
expect 1 "Trivane1 and Trivane2 are both 3" "the driver chooses MIDI autofocus" '"Autofocus" = 2 overrides' \
  "nothing heard from this console" "!heartbeats sent"

# Beside a running host: diagnose only listens, so the host's levels (a
# still picture the console sends as changes only) stay as they are.
CASE=beside-host; settings ip=127.0.0.1 Trivane1=1
source "$(dirname "$0")/../../scripts/loopback_settings.sh"
write_loopback_settings "$OUT_DIR/host.reg"
sim --console 1 --universes 2 --rate 40 --pattern static --level 200 --changed-only
"$NATIVE/previsa-host" --registry "$OUT_DIR/host.reg" --seconds 9 > "$OUT_DIR/host.json" 2> /dev/null &
sleep 3
diagnose  # and the host's end
untouched=$(awk -F'"levels":"' 'NF > 1 { z = ($2 ~ /^0+"/); if (!z) seen = 1; else if (seen) bad++ }
  END { print (seen && !bad) ? "host levels untouched" : "host levels reset " bad + 0 " times" }' "$OUT_DIR/host.json")
echo "$untouched" >> "$OUT_DIR/$CASE.txt"
expect 0 "STREAMING" "drivers heard: 127.0.0.1 (Receiving 1)" "host levels untouched" "!whether it accepts"

# A console on another interface than the configured one, in a network
# namespace of its own with a veth pair (its far end without an address).
other_interface() {
  ip link set lo up && ip link add pvd0 type veth peer name pvd1 && ip addr add 10.77.0.1/24 dev pvd0 &&
    ip link set pvd1 up && ip link set pvd0 up || return 1
  settings ip=127.0.0.1 Trivane1=1
  sim --console 1 --universes 2 --rate 40 --interface 10.77.0.1
  diagnose --passive
  [ "$MODE" = native ] || $WINE --server -k
  expect 1 "HEARD ON ANOTHER INTERFACE: console 1 talks on \"pvd0\" (10.77.0.1" "Set \"ip\" to 10.77.0.1" \
    'PROBLEM: console 1 talks on "pvd0" (10.77.0.1), not here.' \
    '"heard_on":[{"interface":"pvd0"'
  return $failures
}
CASE=other-interface
if [ "$(id -u)" -eq 0 ] && command -v unshare > /dev/null; then
  # Wine's sockets are its server's: a server of this prefix starts anew
  # inside the namespace.
  [ "$MODE" = native ] || $WINE --server -w
  export NATIVE MODE WINDIR OUT_DIR WINE KEY CASE
  unshare --net bash -c "failures=0; PIDS=(); $(declare -f cleanup sim settings tool diagnose winepath_of expect other_interface);
    other_interface" || failures=$((failures + 1))
else
  echo "skip $CASE: a network namespace needs root"
fi

[ $failures -eq 0 ] || { echo "$failures case(s) failed; outputs in $OUT_DIR"; exit 1; }
echo "all diagnose cases passed; outputs in $OUT_DIR"
