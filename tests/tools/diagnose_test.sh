#!/usr/bin/env bash
# pvtrivane-diagnose against the native simulator and test host, case by
# case: it listens without sending anything unless nothing is heard (or
# --active), and tells what streams, what not and why: its exit status and
# what the technician is told (outputs kept in OUT_DIR).
#
#   diagnose_test.sh NATIVE_BUILD_DIR [wine32|wine64 WINDOWS_BUILD_DIR]   (the Windows diagnose under wine)
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd) MODE=${2:-native} WINDIR=${3:-}
OUT_DIR=$NATIVE/diagnose-$MODE
source "$(dirname "$0")/common.sh"

begin() { CASE=$1; shift; [ $# -gt 0 ] || set -- ip=127.0.0.1 Trivane1=1; settings "$@"; }  # case, settings
diagnose() {  # options...: its words and JSON kept, STATUS set, the case's programs ended
  sleep 0.5
  tool pvtrivane-diagnose --seconds 2 --json-file "$(winepath_of "$OUT_DIR/$CASE.json")" "$@" 2>&1 |
    tr -d '\r' > "$OUT_DIR/$CASE.txt"
  STATUS=${PIPESTATUS[0]}
  cleanup
}
unasked() { grep -q PD_HEARTBEAT "$OUT_DIR/$CASE.sim" || echo "sent nothing" >> "$OUT_DIR/$CASE.txt"; }  # the console heard no heartbeat

begin streaming; sim --console 1 --universes 8 --rate 40; diagnose; unasked
expect $CASE 0 "STREAMING" "sent nothing" "without sending anything (passive)" "universes (datagrams/s): 0-7:" \
  "last datagram: 0." "lost (no datagram for over 2 s): none" '"streaming":1' "dropped: none" "whether it accepts a driver was not tried"
begin never-accepting; sim --console 1 --never-accept --rate 40; diagnose --active
expect $CASE 1 "no PD_ACCEPT within 5 s." "Likely causes: the console's number is not 1" '"accept_ms":null' "(--active)"
begin wrong-number; sim --console 4 --universes 2 --rate 20; diagnose
expect $CASE 1 "A console talks as number 4 on this interface" "set Trivane1 = 4" '"4":{"configured":false' \
  "nothing was heard from it, so diagnose asked it"
begin wrong-interface ip=198.51.100.1 Trivane1=1; diagnose
expect $CASE 1 "198.51.100.1 is not an address of this machine" "This machine's IPv4 interfaces:" \
  '"on_this_machine":false' "heartbeat could not be sent"
# What the driver would drop, and what to do about it.
begin wrong-version; sim --console 1 --universes 4 --rate 40 --dmx-version 6; diagnose; unasked
expect $CASE 1 "wrong version" "another protocol version than 7" "NOT STREAMING" '"wrong version":' "sent nothing"
begin other-type; sim --console 1 --universes 1 --rate 20 --dmx-type 23; diagnose
expect $CASE 1 "datagrams with other type" "Set the console's DMX output to the newer format" "NOT STREAMING"
# Accepted, then shut down while diagnose watched: the driver's receiver is
# gone, so nothing streams any more, however much was decoded before.
begin shut-down; sim --console 1 --universes 2 --rate 40 --shutdown-after 1200; diagnose --active
expect $CASE 1 "SHUT DOWN during the watch: PD_SHUTDOWN 1" "NOT STREAMING (shut down)" \
  "before the watch" "control during the watch: PD_ACCEPT 0, PD_SHUTDOWN 1" '"shut_down":true'
begin lost; sim --console 1 --universes 2 --rate 40 --seconds 2.5; diagnose --seconds 5
expect $CASE 1 "lost (no datagram for over 2 s): 0 (last seen" '"lost":true' "NOT STREAMING"
begin two-senders; sim --console 1 --universes 2 --rate 40; sim --console 1 --universes 1 --rate 10 --never-accept
diagnose
expect $CASE 1 "TWO SENDERS stream to console 1's group" "Give one of them another number" "STREAMING FROM 2 SENDERS"
begin settings ip=127.0.0.1 Trivane1=3 Trivane2=3 Autofocus=2; diagnose --passive
expect $CASE 1 "Trivane1 and Trivane2 are both 3" "the driver chooses MIDI autofocus" '"Autofocus" = 2 overrides' \
  "nothing heard from this console" "!heartbeats sent"

# Beside a running host: diagnose only listens, so the host's levels (a
# still picture the console sends as changes only) are never reset.
begin beside-host; sim --console 1 --universes 2 --rate 40 --pattern static --level 200 --changed-only
"$NATIVE/previsa-host" --registry "$OUT_DIR/$CASE.reg" --seconds 9 > "$OUT_DIR/host.json" 2> /dev/null &
host=$!
sleep 3
diagnose
wait $host
awk -F'"levels":"' 'NF > 1 { z = ($2 ~ /^0+"/); if (!z) seen = 1; else if (seen) bad++ }
  END { print (seen && !bad) ? "host levels untouched" : "host levels reset " bad + 0 " times" }' \
  "$OUT_DIR/host.json" >> "$OUT_DIR/$CASE.txt"
expect $CASE 0 "STREAMING" "drivers heard: 127.0.0.1 (Receiving 1)" "host levels untouched" "!whether it accepts"

# A console on another interface than the configured one, in a network
# namespace of its own (root) with a veth pair, its far end without an address.
other_interface() {
  ip link set lo up && ip link add pvd0 type veth peer name pvd1 && ip addr add 10.77.0.1/24 dev pvd0 &&
    ip link set pvd1 up && ip link set pvd0 up || return 1
  begin other-interface; sim --console 1 --universes 2 --rate 40 --interface 10.77.0.1; diagnose --passive
  [ "$MODE" = native ] || $WINE --server -k
  expect $CASE 1 "HEARD ON ANOTHER INTERFACE: console 1 talks on \"pvd0\" (10.77.0.1" "Set \"ip\" to 10.77.0.1" \
    'PROBLEM: console 1 talks on "pvd0" (10.77.0.1), not here.' '"heard_on":[{"interface":"pvd0"'
  return $failures
}
if [ "$(id -u)" -eq 0 ] && command -v unshare > /dev/null; then
  # Wine's sockets are its server's: a server of this prefix starts anew inside.
  [ "$MODE" = native ] || $WINE --server -w
  export NATIVE MODE WINDIR OUT_DIR WINE KEY
  unshare --net bash -c "$(declare -f); failures=0 PIDS=(); other_interface" || failures=$((failures + 1))
else
  echo "skip other-interface: a network namespace needs root"
fi
finish "all diagnose cases passed" "outputs in $OUT_DIR"
