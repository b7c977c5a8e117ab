#!/usr/bin/env bash
# The Wireshark dissector, three ways:
#  - on real traffic: the simulator and the test host captured on loopback
#    (autofocus sent, DMX streamed, DMX of the wrong version, broken input),
#    named fields checked against what was sent, display filters, the Info
#    column and the statistics tap;
#  - against the driver: captures that pv_dmx_cases writes together with the
#    driver's own verdict on each DMX datagram (its acceptance rule and
#    decoder) and the levels each leaves for the host; the dissector must
#    agree datagram by datagram, also on a copy cut by a snap length, and its
#    tshark -V output on the fixed cases must equal the golden file;
#  - fuzzed: broken datagrams at random, and captures with editcap's errors,
#    through tshark -V without a Lua error.
#
#   dissector_test.sh BUILD_DIR        (exit 77: skipped, with the reason)
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
LUA=$HERE/../../tools/wireshark/pvtrivane.lua
GOLDEN=$HERE/dissector_golden.txt
WORK=$BUILD/dissector
rm -rf "$WORK" && mkdir -p "$WORK"
for tool in tcpdump tshark editcap; do
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
source "$HERE/../../scripts/loopback_settings.sh"
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

tshark_lua() { tshark -X "lua_script:$LUA" "$@" 2>> "$WORK/tshark.err"; }
fields() {  # capture, display filter, fields...
  local capture=$1 filter=$2
  shift 2
  local args=()
  for field in "$@"; do args+=(-e "$field"); done
  tshark_lua -r "$capture" -Y "$filter" -T fields -E separator='|' -E aggregator=';' "${args[@]}"
}
live() { fields "$WORK/capture.pcap" "$@"; }
check() {  # name, actual, expected
  if [ "$2" = "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1: got \"$2\", expected \"$3\""
    failures=$((failures + 1))
  fi
}

check "heartbeats say Receiving 1 once accepted" "$(live 'pvtrivane.type == 1 && pvtrivane.receiving == 1' pvtrivane.type_name | sort -u)" "PD_HEARTBEAT"
check "the blind levels' 128-pair split" "$(live 'pvtrivane.type == 5' pvtrivane.count | tr '\n' ' ')" "128 72 "
check "the blind levels from start channel 100" \
  "$(live 'pvtrivane.type == 5 && pvtrivane.count == 72' pvtrivane.spot pvtrivane.pairs | cut -c1-25)" "7|228=129,229=130,230=131"
check "the selection's StatusMask and entries" "$(live 'pvtrivane.type == 6' pvtrivane.status_mask pvtrivane.entries)" "0x00000007|7:1,8:2,9:4"
check "an acceptance's type name, and what the driver does with it" \
  "$(live 'pvtrivane.type == 2' pvtrivane.type_name pvtrivane.verdict | sort -u | cut -c1-28)" "PD_ACCEPT|acted on: the cons"

# Console 1's DMX: a full frame first, then the chase's changes only: each
# universe's list names each channel (1-512) once, and in a changed frame
# the channels at 255 are one residue class modulo 16.
live 'pvtrivane_dmx.verdict == "decoded" && ip.dst == 236.3.2.33' pvtrivane_dmx.levels | tr ';' '\n' > "$WORK/levels.txt"
full=$(awk -F, 'NF == 512 && $1 ~ /^1=/ && $512 ~ /^512=/ { c++ } END { print c + 0 }' "$WORK/levels.txt")
check "full frames name channels 1 to 512" "$([ "$full" -gt 0 ] && echo yes)" "yes"
sparse=$(awk '{
    n = split($0, a, ","); if (n == 512) next
    delete seen; k = -1; bad = 0; on = 0
    for (i = 1; i <= n; i++) {
      split(a[i], p, "="); if (p[1] in seen || p[1] < 1 || p[1] > 512) bad = 1; seen[p[1]] = 1
      if (p[2] == 255) { on++; if (k < 0) k = p[1] % 16; else if (p[1] % 16 != k) bad = 1 }
      else if (p[2] != 0) bad = 1
    }
    if (n != 64 || on != 32) bad = 1
    if (bad) print "bad: " $0; else good++
  } END { print "good " good + 0 }' "$WORK/levels.txt")
check "sparse universes decode to the chase's 64 changes" "$(echo "$sparse" | grep -c '^bad'):$([ "${sparse##*good }" -gt 0 ] && echo some)" "0:some"
check "a channel and its level as display filter fields" \
  "$([ "$(live 'pvtrivane_dmx.set == "17=255" && pvtrivane_dmx.channel == 17 && pvtrivane_dmx.level > 0' frame.number | wc -l)" -gt 0 ] && echo yes)" "yes"
check "the console and universes in the Info column" "$(live 'ip.dst == 236.3.2.33' _ws.col.Info | sed -n 1p | cut -c1-32)" \
  "Console 1: DMX universes 0-1, 10"
check "DMX of the wrong version is marked as dropped" \
  "$(live 'ip.dst == 236.3.2.34' pvtrivane_dmx.verdict | sort -u)" "dropped: version 6, not 7"
check "a short control packet is read zero-filled, as the driver does" \
  "$(live 'udp.length == 38 && pvtrivane.magic == "TVN"' pvtrivane.type_name _ws.expert.message | cut -c1-38)" "PD_ACCEPT|Shorter than 556 bytes: the "
check "a control packet on another port is found by its first bytes" \
  "$(live 'udp.dstport == 7001' pvtrivane.type_name)" "PD_ACCEPT"
tshark_lua -r "$WORK/capture.pcap" -q -z pvtrivane,stat > "$WORK/stat.txt"
check "the statistics tap: control, verdicts, rates per universe" "$(grep -cE '^Console 1  control: PD_HEARTBEAT|^  DMX datagrams: decoded|^  universe  1 .* decoded .*/s$|^  DMX datagrams: dropped: version' "$WORK/stat.txt")" "4"

# The driver's verdict, datagram by datagram: fixed cases and broken ones.
"$BUILD/pv_dmx_cases" golden "$WORK/golden.pcapng" "$WORK/golden.expected"
"$BUILD/pv_dmx_cases" random "$WORK/random.pcapng" "$WORK/random.expected" 7 400
verdicts() { fields "$1" pvtrivane_dmx pvtrivane_dmx.verdict_code pvtrivane_dmx.changed_universe pvtrivane_dmx.levels; }
for set in golden random; do
  verdicts "$WORK/$set.pcapng" > "$WORK/$set.got"
  check "the driver's verdicts and levels on the $set cases" \
    "$(diff "$WORK/$set.got" "$WORK/$set.expected" > "$WORK/$set.diff" && echo same || wc -l < "$WORK/$set.diff")" "same"
done
# Cut by a snap length: judged from the length on the wire, so a drop stays
# the same drop and a datagram the driver takes is at most not judged.
editcap -s 100 "$WORK/random.pcapng" "$WORK/cut.pcapng"
check "a capture cut by its snap length keeps the verdicts" "$(verdicts "$WORK/cut.pcapng" | cut -d'|' -f1 |
  paste -d' ' - <(cut -d'|' -f1 "$WORK/random.expected") | awk '$1 != $2 && !($1 == 8 && $2 <= 1)' | wc -l)" "0"
# tshark -V on the fixed cases, our protocols only (frame, IP and UDP lines
# differ between tshark versions).
tshark_lua -r "$WORK/golden.pcapng" -V -O pvtrivane,pvtrivane_dmx |
  awk '/^Trivane console/ { ours = 1 } /^[A-Z]/ && !/^Trivane console/ { ours = 0 } ours' > "$WORK/golden.txt"
check "tshark -V as the golden file has it" \
  "$(diff "$GOLDEN" "$WORK/golden.txt" > "$WORK/golden-V.diff" && echo same || echo "differs (see $WORK/golden-V.diff)")" "same"

# Fuzzed: editcap's errors on every capture, several seeds.
for seed in 1 2 3; do
  for capture in capture.pcap golden.pcapng random.pcapng; do
    editcap -E 0.05 --seed "$seed" "$WORK/$capture" "$WORK/fuzz-$seed-${capture%%.*}.pcapng"
    tshark_lua -r "$WORK/fuzz-$seed-${capture%%.*}.pcapng" -V > /dev/null
  done
done
tshark_lua -r "$WORK/capture.pcap" -V > "$WORK/all.txt"
check "no Lua errors on any packet" "$(grep -ci 'lua' "$WORK/tshark.err" "$WORK/all.txt" | awk -F: '{ s += $2 } END { print s }')" "0"

[ $failures -eq 0 ] || { echo "$failures check(s) failed; captures in $WORK"; exit 1; }
echo "all dissector checks passed; captures in $WORK"
