#!/usr/bin/env bash
# The Wireshark dissector on real traffic: captures the simulator and the
# test host on loopback (autofocus sent, DMX streamed, and a console with
# DMX of the wrong version), reads the capture with tshark and the
# dissector, and checks named fields against what was sent.
#
#   dissector_test.sh BUILD_DIR        (exit 77: skipped, with the reason)
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
LUA=$ROOT/tools/wireshark/pvtrivane.lua
WORK=$BUILD/dissector
rm -rf "$WORK" && mkdir -p "$WORK"
for tool in tcpdump tshark; do
  command -v $tool > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "SKIP: capturing on loopback needs root"; exit 77; }
failures=0
PIDS=()
cleanup() { [ ${#PIDS[@]} -gt 0 ] && kill "${PIDS[@]}" 2> /dev/null; wait 2> /dev/null; }
trap cleanup EXIT

tcpdump -i lo -U -w "$WORK/capture.pcap" 'udp port 6007 or udp port 9138 or udp port 7001' > "$WORK/tcpdump.log" 2>&1 &
PIDS+=($!)
sleep 1
"$BUILD/trivane-sim" --console 1 --universes 2 --rate 20 --pattern chase --changed-only --quiet > /dev/null 2>&1 &
PIDS+=($!)
"$BUILD/trivane-sim" --console 2 --universes 1 --rate 10 --dmx-version 6 --never-accept --quiet > /dev/null 2>&1 &
PIDS+=($!)
source "$ROOT/scripts/loopback_settings.sh"
write_loopback_settings "$WORK/settings.reg" '"Autofocus"=dword:00000001'
# 200 channel levels from start channel 100 (split 128 + 72), a selection.
levels=$(seq 1 200 | awk '{ printf "%s%d=%d", (NR > 1 ? "," : ""), $1, $1 % 256 }')
"$BUILD/previsa-host" --registry "$WORK/settings.reg" --seconds 1.5 --blind "7:100:$levels" \
  --selection 7:1:Spot,8:2:Wash,9:4:Profile > "$WORK/host.log" 2>&1
# Broken input, sent to loopback itself: random bytes on both ports, a
# control packet cut short, and a whole one on another port, which the
# dissector finds by its first bytes.
for i in $(seq 1 20); do
  for port in 6007 9138; do
    head -c $((RANDOM % 700 + 1)) /dev/urandom > "$WORK/random.bin"
    cat "$WORK/random.bin" > "/dev/udp/127.0.0.1/$port"
  done
done
{ printf 'TVN\0PRV\0\x2c\x02\0\0\xe0\x15\0\0\x02\0\0\0'; head -c 536 /dev/zero; } > "$WORK/accept.bin"
head -c 30 "$WORK/accept.bin" > "$WORK/short.bin"
cat "$WORK/short.bin" > /dev/udp/127.0.0.1/6007
cat "$WORK/accept.bin" > /dev/udp/127.0.0.1/7001
sleep 0.5
cleanup
PIDS=()

fields() {  # display filter, fields...
  local filter=$1
  shift
  local args=()
  for field in "$@"; do args+=(-e "$field"); done
  tshark -X "lua_script:$LUA" -r "$WORK/capture.pcap" -Y "$filter" -T fields -E separator='|' -E aggregator=';' \
    "${args[@]}" 2>> "$WORK/tshark.err"
}
check() {  # name, actual, expected
  if [ "$2" = "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1: got \"$2\", expected \"$3\""
    failures=$((failures + 1))
  fi
}

check "heartbeats say Receiving 1 once accepted" "$(fields 'pvtrivane.type == 1 && pvtrivane.receiving == 1' pvtrivane.type_name | sort -u)" "PD_HEARTBEAT"
check "the blind levels' 128-pair split" "$(fields 'pvtrivane.type == 5' pvtrivane.count | tr '\n' ' ')" "128 72 "
check "the blind levels from start channel 100" \
  "$(fields 'pvtrivane.type == 5 && pvtrivane.count == 72' pvtrivane.spot pvtrivane.pairs | cut -c1-25)" "7|228=129,229=130,230=131"
check "the selection's StatusMask and entries" "$(fields 'pvtrivane.type == 6' pvtrivane.status_mask pvtrivane.entries)" "0x00000007|7:1,8:2,9:4"
check "an acceptance's type name" "$(fields 'pvtrivane.type == 2' pvtrivane.type_name | sort -u)" "PD_ACCEPT"

# Console 1's DMX: a full frame first, then the chase's changes only: each
# universe's channel=level list names each channel once, and in a changed
# frame the channels at 255 are one residue class modulo 16.
fields 'pvtrivane_dmx.verdict == "decoded" && ip.dst == 236.3.2.33' pvtrivane_dmx.levels | tr ';' '\n' \
  > "$WORK/levels.txt"
full=$(awk '{ if (split($0, a, ",") == 512) c++ } END { print c + 0 }' "$WORK/levels.txt")
check "full frames name all 512 channels" "$([ "$full" -gt 0 ] && echo yes)" "yes"
sparse=$(awk '{
    n = split($0, a, ","); if (n == 512) next
    delete seen; k = -1; bad = 0; on = 0
    for (i = 1; i <= n; i++) {
      split(a[i], p, "="); if (p[1] in seen) bad = 1; seen[p[1]] = 1
      if (p[2] == 255) { on++; if (k < 0) k = p[1] % 16; else if (p[1] % 16 != k) bad = 1 }
      else if (p[2] != 0) bad = 1
    }
    if (n != 64 || on != 32) bad = 1
    if (bad) print "bad: " $0; else good++
  } END { print "good " good + 0 }' "$WORK/levels.txt")
check "sparse universes decode to the chase's 64 changes" "$(echo "$sparse" | grep -c '^bad'):$([ "${sparse##*good }" -gt 0 ] && echo some)" "0:some"
check "DMX of the wrong version is marked as dropped" \
  "$(fields 'ip.dst == 236.3.2.34' pvtrivane_dmx.verdict | sort -u)" "dropped: version 6, not 7"
check "a cut control packet is flagged" \
  "$(fields 'udp.length == 38' _ws.expert.message | grep -c 'shorter than 556')" "1"
check "a control packet on another port is found by its first bytes" \
  "$(fields 'udp.dstport == 7001' pvtrivane.type_name)" "PD_ACCEPT"
tshark -X "lua_script:$LUA" -r "$WORK/capture.pcap" -V > "$WORK/all.txt" 2>> "$WORK/tshark.err"
check "no Lua errors on any packet" "$(grep -ci 'lua' "$WORK/tshark.err" "$WORK/all.txt" | awk -F: '{ s += $2 } END { print s }')" "0"

[ $failures -eq 0 ] || { echo "$failures check(s) failed; capture in $WORK"; exit 1; }
echo "all dissector checks passed; capture in $WORK"
