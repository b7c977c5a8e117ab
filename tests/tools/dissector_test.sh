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
NATIVE=$(cd "${1:?build folder}" && pwd)
OUT_DIR=$NATIVE/dissector CASE=host
source "$(dirname "$0")/common.sh"
need 77 tcpdump tshark editcap
[ "$(id -u)" -eq 0 ] || { echo "SKIP: capturing on loopback needs root"; exit 77; }
W=$OUT_DIR

start tcpdump -i lo -U -w "$W/capture.pcap" 'udp port 6007 or udp port 9138 or udp port 7001' > "$W/tcpdump.log" 2>&1
for _ in $(seq 1 100); do grep -q listening "$W/tcpdump.log" && break; sleep 0.1; done
# Broken input, first so that the capture surely holds it, sent to loopback
# itself: random bytes on both ports; and an acceptance on another port,
# which the dissector finds by its first bytes.
for i in $(seq 1 40); do head -c $((RANDOM % 700 + 1)) /dev/urandom > "/dev/udp/127.0.0.1/$((i % 2 ? 6007 : 9138))"; done
{ printf 'TVN\0PRV\0\x2c\x02\0\0\xe0\x15\0\0\x02\0\0\0'; head -c 536 /dev/zero; } > "$W/accept.bin"
cat "$W/accept.bin" > /dev/udp/127.0.0.1/7001  # one datagram
sim --console 1 --universes 2 --rate 20 --pattern chase --changed-only --quiet
sim --console 2 --universes 1 --rate 10 --dmx-version 6 --never-accept --quiet
settings ip=127.0.0.1 Trivane1=1 Autofocus=1
# 200 channel levels from start channel 100 (split 128 + 72), a selection.
levels=$(seq 1 200 | awk '{ printf "%s%d=%d", (NR > 1 ? "," : ""), $1, $1 % 256 }')
tool previsa-host --seconds 1.5 --blind "7:100:$levels" --selection 7:1:Spot,8:2:Wash,9:4:Profile > "$W/host.log" 2>&1
sleep 0.5
cleanup

tshark_lua() { tshark -X "lua_script:$ROOT/tools/wireshark/pvtrivane.lua" "$@" 2>> "$W/tshark.err"; }
fields() {  # capture, display filter, fields...
  tshark_lua -r "$1" -Y "$2" -T fields -E separator='|' -E aggregator=';' $(printf -- '-e %s ' "${@:3}")
}
live() { fields "$W/capture.pcap" "$@"; }
is() { [ "$2" = "$3" ] && echo "ok   $1" || { echo "FAIL $1: got \"$2\", expected \"$3\""; failures=$((failures + 1)); }; }

is "heartbeats say Receiving 1 once accepted" "$(live 'pvtrivane.type == 1 && pvtrivane.receiving == 1' pvtrivane.type_name | sort -u)" "PD_HEARTBEAT"
is "the blind levels' 128-pair split" "$(live 'pvtrivane.type == 5' pvtrivane.count | tr '\n' ' ')" "128 72 "
is "the blind levels from start channel 100" \
  "$(live 'pvtrivane.type == 5 && pvtrivane.count == 72' pvtrivane.spot pvtrivane.pairs | cut -c1-25)" "7|228=129,229=130,230=131"
is "the selection's StatusMask and entries" "$(live 'pvtrivane.type == 6' pvtrivane.status_mask pvtrivane.entries)" "0x00000007|7:1,8:2,9:4"
is "an acceptance's type name, and what the driver does with it" \
  "$(live 'pvtrivane.type == 2' pvtrivane.type_name pvtrivane.verdict | sort -u | cut -c1-28)" "PD_ACCEPT|acted on: the cons"

# Console 1's DMX: a full frame first (every channel named; the changes
# after it are judged against the driver below).
is "full frames name channels 1 to 512" "$(live 'pvtrivane_dmx.verdict == "decoded" && ip.dst == 236.3.2.33' \
  pvtrivane_dmx.levels | tr ';' '\n' | awk -F, 'NF == 512 && $1 ~ /^1=/ && $512 ~ /^512=/ { c++ } END { print (c > 0) }')" 1
is "a channel and its level as display filter fields" \
  "$(live 'pvtrivane_dmx.set == "17=255" && pvtrivane_dmx.channel == 17 && pvtrivane_dmx.level > 0' frame.number |
    grep -q . && echo yes)" yes
is "the console and universes in the Info column" "$(live 'ip.dst == 236.3.2.33' _ws.col.Info | sed -n 1p | cut -c1-32)" \
  "Console 1: DMX universes 0-1, 10"
is "a control packet on another port is found by its first bytes" "$(live 'udp.dstport == 7001' pvtrivane.type_name)" "PD_ACCEPT"
is "the statistics tap: control, verdicts, rates per universe" "$(tshark_lua -r "$W/capture.pcap" -q -z pvtrivane,stat |
  grep -cE '^Console 1  control: PD_HEARTBEAT|^  DMX datagrams: decoded|^  universe  1 .* decoded .*/s$|^  DMX datagrams: dropped: version')" 4

# The driver's verdict, datagram by datagram: fixed cases and broken ones.
"$NATIVE/pv_dmx_cases" golden "$W/golden.pcapng" "$W/golden.expected"
"$NATIVE/pv_dmx_cases" random "$W/random.pcapng" "$W/random.expected" 7 400
verdicts() { fields "$1" pvtrivane_dmx pvtrivane_dmx.verdict_code pvtrivane_dmx.changed_universe pvtrivane_dmx.levels; }
for set in golden random; do
  is "the driver's verdicts and levels on the $set cases (lines differing)" \
    "$(verdicts "$W/$set.pcapng" | diff - "$W/$set.expected" | tee "$W/$set.diff" | grep -c '^[<>]')" 0
done
# Cut by a snap length: judged from the length on the wire, so a drop stays
# the same drop and a datagram the driver takes is at most not judged.
editcap -s 100 "$W/random.pcapng" "$W/cut.pcapng"
is "a capture cut by its snap length keeps the verdicts" "$(verdicts "$W/cut.pcapng" | cut -d'|' -f1 |
  paste -d' ' - <(cut -d'|' -f1 "$W/random.expected") | awk '$1 != $2 && !($1 == 8 && $2 <= 1)' | wc -l)" 0
# tshark -V on the fixed cases, our protocols only (frame, IP and UDP lines
# differ between tshark versions).
tshark_lua -r "$W/golden.pcapng" -V -O pvtrivane,pvtrivane_dmx |
  awk '/^Trivane console/ { ours = 1 } /^[A-Z]/ && !/^Trivane console/ { ours = 0 } ours' > "$W/golden.txt"
is "tshark -V as the golden file has it (lines differing)" \
  "$(diff "$(dirname "$0")/dissector_golden.txt" "$W/golden.txt" | tee "$W/golden-V.diff" | grep -c '^[<>]')" 0

# Fuzzed: editcap's errors on every capture, several seeds.
for seed in 1 2 3; do
  for capture in capture.pcap golden.pcapng random.pcapng; do
    f=$W/fuzz-$seed-${capture%%.*}.pcapng
    editcap -E 0.05 --seed "$seed" "$W/$capture" "$f" && tshark_lua -r "$f" -V > /dev/null
  done
done
tshark_lua -r "$W/capture.pcap" -V > "$W/all.txt"
is "no Lua errors on any packet" "$(cat "$W/tshark.err" "$W/all.txt" | grep -ci 'lua')" 0
finish "all dissector checks passed" "captures in $W"
