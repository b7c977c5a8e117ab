#!/usr/bin/env bash
# The simulator, the test host and the driver as a show sees them: consoles
# with the same number, universes judged by their datagrams, channels
# numbered 1-512, autofocus the driver does not offer, the driver's echo on
# senders and streams, a recorded show (or a site's pcap) replayed.
#
#   show_test.sh NATIVE_BUILD_DIR [wine32|wine64 WINDOWS_BUILD_DIR]
#
# With wine the host, the recorder and the replaying simulator (its built-in
# capture reader) are that Windows build; the echo (a window there) is read
# on Linux only. The capture comparisons need tshark.
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd) MODE=${2:-native} WINDIR=${3:-}
OUT_DIR=$NATIVE/show-$MODE
source "$(dirname "$0")/common.sh"
trap 'cleanup; [ "$MODE" = native ] || $WINE reg delete "HKCU\Software\Orvell Stagecraft" /f > /dev/null 2>&1' EXIT

# The test host: JSON lines into $CASE.json, the rest (the driver's echo) into $CASE.host.
host() { tool previsa-host "$@" 2> "$OUT_DIR/$CASE.host" | tr -d '\r' > "$OUT_DIR/$CASE.json"; }
has() { grep -qF -- "$2" "$OUT_DIR/$CASE.$1"; }  # output kind, text
last_json() { tail -n 1 "$OUT_DIR/$CASE.json"; }
later() { sleep "$1"; exec "$NATIVE/trivane-sim" "${@:2}"; }  # seconds, simulator arguments
recording() {  # file, console: the native recorder, in the background (recorder)
  "$NATIVE/pvtrivane-record" --out "$OUT_DIR/$1" --console "$2" --interface 127.0.0.1 > /dev/null 2>&1 &
  recorder=$!
  sleep 0.3
}
# The offset and the payload of every DMX datagram of a capture.
datagrams() { tshark -r "$1" -Y "udp.dstport == 9138" -T fields -e frame.time_epoch -e udp.payload 2> /dev/null; }

CASE=same-number; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 1 --rate 20 --pattern static --level 255; sim --console 1 --universes 1 --rate 0
sleep 0.3; host --view --frames 40 --values percent; cleanup
check "a simulator prints another's PD_ACCEPT, and who sent it" has sim "PD_ACCEPT len=556 sig=5600 from 127.0.0.1:"
check "the view numbers channels 1-512" has json "universe 0, channels 1-512, levels percent:"
check "... in rows of 16 from 1 to 497, full at 100%" \
  bash -c "grep -qE '^ +1 +100( 100){15}' '$OUT_DIR/$CASE.json' && grep -qE '^ +497 +100' '$OUT_DIR/$CASE.json'"

CASE=blackout; settings ip=127.0.0.1 Trivane1=1 Autofocus=1
sim --console 1 --universes 4 --rate 20 --pattern static --level 0
sleep 0.3; host --seconds 2 --midi "F0 00 01 09 01 02 03 04 00 F7" --fix-checksum; cleanup
check "universes at blackout stream" grep -q '"live":"0f00000000000000"' <(last_json)
check "MIDI autofocus is not sent in blind mode, and the host says why" has host "MIDI autofocus NOT sent"
check "... nor does the console receive it" test -z "$(grep PD_MIDI "$OUT_DIR/$CASE.sim")"

# One console accepts; two others stream under its number, overlapping; a
# silence; then a stream comes back.
CASE=health; settings ip=127.0.0.1 Trivane1=1 echo=1
sim --console 1 --rate 0; sim --console 1 --never-accept --universes 2 --rate 40 --seconds 2.5
start later 1 --console 1 --never-accept --universes 2 --rate 20 --seconds 1.5 > /dev/null 2>&1
start later 6.5 --console 1 --never-accept --universes 2 --rate 40 > /dev/null 2>&1
sleep 0.3; host --seconds 8.5; cleanup
[ "$MODE" != native ] || IN=host expect "the echo tells a second sender, a stream that stopped and came back" - \
  "DMX console 1: a second sender, 127.0.0.1:" "the console's stream stopped" "DMX console 1: the stream is back after"
check "the host marks universes lost while silent, live again after" bash -c \
  "grep -q '\"live\":\"0000000000000000\",\"lost\":\"0300000000000000\"' '$OUT_DIR/$CASE.json' &&
   grep -q '\"live\":\"0300000000000000\",\"lost\":\"0000000000000000\"' <<< '$(last_json)'"

# Record console 1 for 2 s (and, as a technician's capture on site, in a
# pcap of Ethernet frames); replay it as console 3, looping, to a host
# connected to console 3 while it is recorded again.
CASE=replay; settings ip=127.0.0.1 Trivane1=3
sim --console 1 --universes 4 --rate 40 --pattern chase --changed-only
[ "$(id -u)" -eq 0 ] && command -v tcpdump > /dev/null &&
  start tcpdump -i lo -U -w "$OUT_DIR/site.pcap" 'udp port 9138' > /dev/null 2>&1
sleep 0.3
tool pvtrivane-record --out "$(winepath_of "$OUT_DIR/show.pcapng")" --console 1 --interface 127.0.0.1 --seconds 2 \
  > "$OUT_DIR/$CASE.record" 2>&1
cleanup
if [ -s "$OUT_DIR/site.pcap" ] && command -v tshark > /dev/null; then
  recording site-replayed.pcapng 4
  tool trivane-sim --console 4 --replay "$(winepath_of "$OUT_DIR/site.pcap")" --seconds 3 > /dev/null 2>&1
  kill -INT $recorder; wait $recorder
  check "a capture taken on site (pcap, Ethernet) replays too" \
    cmp -s <(datagrams "$OUT_DIR/site.pcap" | cut -f2) <(datagrams "$OUT_DIR/site-replayed.pcapng" | cut -f2)
fi
recording replayed.pcapng 3
tool trivane-sim --console 3 --replay "$(winepath_of "$OUT_DIR/show.pcapng")" --loop --seconds 5 > "$OUT_DIR/$CASE.sim" 2>&1 &
replayer=$!
sleep 0.5; host --seconds 3; wait $replayer
kill -INT $recorder; wait $recorder
check "the replay reads the recording" has sim "trivane-sim: replaying console 1 of"
check "the host sees the replayed universes" bash -c "grep -q '\"live\":\"0f00000000000000\"' <<< '$(last_json)' &&
  [ \$(grep -o '\"levels\":\"[0-9a-f]*\"' '$OUT_DIR/$CASE.json' | sort -u | wc -l) -gt 3 ]"
if command -v tshark > /dev/null; then
  datagrams "$OUT_DIR/show.pcapng" > "$OUT_DIR/show.txt"
  datagrams "$OUT_DIR/replayed.pcapng" > "$OUT_DIR/replayed.txt"
  n=$(wc -l < "$OUT_DIR/show.txt")
  check "the recording holds the show ($n datagrams)" test "$n" -gt 40
  check "the first pass sends the recorded datagrams in order" \
    cmp -s <(cut -f2 "$OUT_DIR/show.txt") <(head -n "$n" "$OUT_DIR/replayed.txt" | cut -f2)
  check "the loop replays it again" \
    cmp -s <(cut -f2 "$OUT_DIR/show.txt") <(sed -n "$((n + 1)),$((2 * n))p" "$OUT_DIR/replayed.txt" | cut -f2)
  # Against the recorded offsets, less the replay's steady latency (the
  # median): nine in ten datagrams within 15 ms (a busy machine delays a
  # few), and no drift: the last one within 20 ms.
  paste <(cut -f1 "$OUT_DIR/show.txt") <(head -n "$n" "$OUT_DIR/replayed.txt" | cut -f1) |
    awk 'NR == 1 { s0 = $1; r0 = $2 } { print ($2 - r0) - ($1 - s0) }' > "$OUT_DIR/timing.txt"
  median=$(sort -g "$OUT_DIR/timing.txt" | sed -n "$(((n + 1) / 2))p")
  awk -v m="$median" '{ d = $1 - m; print (d < 0 ? -d : d) }' "$OUT_DIR/timing.txt" > "$OUT_DIR/deviation.txt"
  p90=$(sort -g "$OUT_DIR/deviation.txt" | sed -n "$((n * 9 / 10))p") last=$(tail -n 1 "$OUT_DIR/deviation.txt")
  check "the recorded timing is kept (90% within $p90 s, the last $last s off)" \
    awk -v p="$p90" -v l="$last" 'BEGIN { exit !(p < 0.015 && l < 0.02) }'
else
  echo "skip the capture comparisons: tshark is not installed"
fi
finish "all show checks passed ($MODE)" "outputs in $OUT_DIR"
