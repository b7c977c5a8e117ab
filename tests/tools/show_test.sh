#!/usr/bin/env bash
# The simulator, the test host and the driver as a show sees them: a second
# console with the same number is reported by both; the host judges each
# universe by its datagrams (a blackout streams, a stopped universe is
# lost), numbers channels 1-512 and does not send autofocus the driver does
# not offer; the driver's echo tells a second sender, a stream that stops
# and one that comes back; a show recorded with pvtrivane-record replays
# with its datagrams and timing (and loops), and the host sees it.
#
#   show_test.sh NATIVE_BUILD_DIR [wine32|wine64 WINDOWS_BUILD_DIR]
#
# With wine the test host, the recorder and the replaying simulator are that
# Windows build (the replay through its built-in capture reader); the
# other simulators are the native ones, and the driver's echo (a window on
# Windows) is read on Linux only. The capture comparisons need tshark
# (skipped without it).
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd)
MODE=${2:-native}
WINDIR=${3:-}
OUT_DIR=$NATIVE/show-$MODE
rm -rf "$OUT_DIR" && mkdir -p "$OUT_DIR"
source "$(dirname "$0")/common.sh"

# The test host for the case, JSON lines into $CASE.json, the rest (the
# driver's echo among it) into $CASE.host.
host() {  # host options...
  local registry=()
  [ "$MODE" = native ] && registry=(--registry "$OUT_DIR/$CASE.reg")
  tool previsa-host "${registry[@]}" "$@" 2> "$OUT_DIR/$CASE.host" | tr -d '\r' > "$OUT_DIR/$CASE.json"
}
has() { grep -qF -- "$2" "$OUT_DIR/$CASE.$1"; }          # file kind, text
last_json() { tail -n 1 "$OUT_DIR/$CASE.json"; }

# A second console with the same number: each simulator prints the other's
# acceptance; the host's view numbers channels 1-512, here in percent.
CASE=same-number; settings ip=127.0.0.1 Trivane1=1
sim --console 1 --universes 1 --rate 20 --pattern static --level 255
sim --console 1 --universes 1 --rate 0
sleep 0.3
host --view --frames 40 --values percent
cleanup
check "a simulator prints another's PD_ACCEPT, and who sent it" has sim "PD_ACCEPT len=556 sig=5600 from 127.0.0.1:"
check "the view numbers channels 1-512" has json "universe 0, channels 1-512, levels percent:"
check "... in rows of 16 from 1 to 497, full at 100%" \
  bash -c "grep -qE '^ +1 +100( 100){15}' '$OUT_DIR/$CASE.json' && grep -qE '^ +497 +100' '$OUT_DIR/$CASE.json'"

# A blackout streams; MIDI autofocus is not sent while the driver is set
# for blind autofocus.
CASE=blackout; settings ip=127.0.0.1 Trivane1=1 Autofocus=1
sim --console 1 --universes 4 --rate 20 --pattern static --level 0
sleep 0.3
host --seconds 2 --midi "F0 00 01 09 01 02 03 04 00 F7" --fix-checksum
cleanup
check "universes at blackout stream" bash -c "grep -q '\"live\":\"0f00000000000000\"' <<< '$(last_json)'"
check "MIDI autofocus is not sent in blind mode, and the host says why" has host "MIDI autofocus NOT sent"
check "... nor does the console receive it" bash -c "! grep -q PD_MIDI '$OUT_DIR/$CASE.sim'"

# One console accepts; two others stream under its number, one after the
# other overlapping; a silence; then a stream comes back. The driver's echo
# (on standard error) tells each; the host marks the universes lost while
# silent.
CASE=health; settings ip=127.0.0.1 Trivane1=1 echo=1
sim --console 1 --rate 0
sim --console 1 --never-accept --universes 2 --rate 40 --seconds 2.5
(sleep 1; exec "$NATIVE/trivane-sim" --console 1 --never-accept --universes 2 --rate 20 --seconds 1.5 > /dev/null 2>&1) &
PIDS+=($!)
(sleep 6.5; exec "$NATIVE/trivane-sim" --console 1 --never-accept --universes 2 --rate 40 > /dev/null 2>&1) &
PIDS+=($!)
sleep 0.3
host --seconds 8.5
cleanup
if [ "$MODE" = native ]; then  # on Windows the echo's lines are in its window
  check "the echo tells a second sender" has host "DMX console 1: a second sender, 127.0.0.1:"
  check "... the stream that stopped" has host "the console's stream stopped"
  check "... and came back" has host "DMX console 1: the stream is back after"
fi
check "the host marks universes lost while silent, live again after" bash -c \
  "grep -q '\"live\":\"0000000000000000\",\"lost\":\"0300000000000000\"' '$OUT_DIR/$CASE.json' &&
   grep -q '\"live\":\"0300000000000000\",\"lost\":\"0000000000000000\"' <<< '$(last_json)'"

# Record console 1 for 2 s; replay it as console 3, looping, to a host
# connected to console 3 while it is recorded again.
CASE=replay; settings ip=127.0.0.1 Trivane1=3
sim --console 1 --universes 4 --rate 40 --pattern chase --changed-only
# The same traffic as a technician's capture on site: pcap, Ethernet frames.
if command -v tcpdump > /dev/null && [ "$(id -u)" -eq 0 ]; then
  tcpdump -i lo -U -w "$OUT_DIR/site.pcap" 'udp port 9138' > /dev/null 2>&1 &
  PIDS+=($!)
fi
sleep 0.3
tool pvtrivane-record --out "$(winepath_of "$OUT_DIR/show.pcapng")" --console 1 --interface 127.0.0.1 --seconds 2 \
  > "$OUT_DIR/$CASE.record" 2>&1
cleanup
if [ -s "$OUT_DIR/site.pcap" ] && command -v tshark > /dev/null; then
  "$NATIVE/pvtrivane-record" --out "$OUT_DIR/site-replayed.pcapng" --console 4 --interface 127.0.0.1 > /dev/null 2>&1 &
  recorder=$!
  sleep 0.3
  tool trivane-sim --console 4 --replay "$(winepath_of "$OUT_DIR/site.pcap")" --seconds 3 > /dev/null 2>&1
  kill -INT $recorder
  wait $recorder
  payloads() { tshark -r "$1" -Y "udp.dstport == 9138" -T fields -e udp.payload 2> /dev/null; }
  check "a capture taken on site (pcap, Ethernet) replays too" cmp -s <(payloads "$OUT_DIR/site.pcap") \
    <(payloads "$OUT_DIR/site-replayed.pcapng")
fi
"$NATIVE/pvtrivane-record" --out "$OUT_DIR/replayed.pcapng" --console 3 --interface 127.0.0.1 > /dev/null 2>&1 &
recorder=$!
sleep 0.3
tool trivane-sim --console 3 --replay "$(winepath_of "$OUT_DIR/show.pcapng")" --loop --seconds 5 \
  > "$OUT_DIR/$CASE.sim" 2>&1 &
replayer=$!
sleep 0.5
host --seconds 3
wait $replayer
kill -INT $recorder
wait $recorder
check "the replay reads the recording" has sim "trivane-sim: replaying console 1 of"
check "the host sees the replayed universes" bash -c "grep -q '\"live\":\"0f00000000000000\"' <<< '$(last_json)' &&
  [ \$(grep -o '\"levels\":\"[0-9a-f]*\"' '$OUT_DIR/$CASE.json' | sort -u | wc -l) -gt 3 ]"
if command -v tshark > /dev/null; then
  # Offset from the first datagram, and the payload, of every DMX datagram.
  datagrams() { tshark -r "$1" -Y "udp.dstport == 9138" -T fields -e frame.time_epoch -e udp.payload 2> /dev/null; }
  datagrams "$OUT_DIR/show.pcapng" > "$OUT_DIR/show.txt"
  datagrams "$OUT_DIR/replayed.pcapng" > "$OUT_DIR/replayed.txt"
  n=$(wc -l < "$OUT_DIR/show.txt")
  check "the recording holds the show ($n datagrams)" test "$n" -gt 40
  check "the first pass sends the recorded datagrams in order" \
    cmp -s <(cut -f2 "$OUT_DIR/show.txt") <(head -n "$n" "$OUT_DIR/replayed.txt" | cut -f2)
  # Against the recorded offsets, less the replay's steady latency (the
  # median): nine in ten datagrams within 15 ms (a busy machine delays a
  # few), and no drift: the last one within 20 ms.
  paste <(cut -f1 "$OUT_DIR/show.txt") <(head -n "$n" "$OUT_DIR/replayed.txt" | cut -f1) |
    awk 'NR == 1 { s0 = $1; r0 = $2 } { print ($2 - r0) - ($1 - s0) }' > "$OUT_DIR/timing.txt"
  median=$(sort -g "$OUT_DIR/timing.txt" | sed -n "$(((n + 1) / 2))p")
  awk -v m="$median" '{ d = $1 - m; print (d < 0 ? -d : d) }' "$OUT_DIR/timing.txt" > "$OUT_DIR/deviation.txt"
  timing="$(sort -g "$OUT_DIR/deviation.txt" | sed -n "$((n * 9 / 10))p") $(tail -n 1 "$OUT_DIR/deviation.txt")"
  check "the recorded timing is kept (90% within ${timing% *} s, the last ${timing#* } s off)" \
    awk -v p="${timing% *}" -v l="${timing#* }" 'BEGIN { exit !(p < 0.015 && l < 0.02) }'
  check "the loop replays it again" bash -c "cmp -s <(cut -f2 '$OUT_DIR/show.txt') \
    <(sed -n '$((n + 1)),$((2 * n))p' '$OUT_DIR/replayed.txt' | cut -f2)"
else
  echo "skip the capture comparisons: tshark is not installed"
fi

[ "$MODE" != native ] && $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
[ $failures -eq 0 ] || { echo "$failures check(s) failed; outputs in $OUT_DIR"; exit 1; }
echo "all show checks passed ($MODE); outputs in $OUT_DIR"
