#!/usr/bin/env bash
# The echo window, seen: the Windows test host under wine on a virtual
# display, with "echo" = 1, connected to the native simulator. The window
# must exist with its title at 300 x 200, paint lines (pixels other than its
# black background in the client area), stay still while nothing happens,
# and show another page after Page Up. The screenshots stay in OUT_DIR.
#
#   echo_window_test.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR [wine32|wine64]
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd)
WINDIR=$(cd "${2:?windows build folder}" && pwd)
OUT=$WINDIR/echo-window
rm -rf "$OUT" && mkdir -p "$OUT"
WINE="$(dirname "$0")/../../scripts/wine-run ${3:-wine64}"
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
for tool in Xvfb xwininfo import convert compare xdotool; do
  command -v $tool > /dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
failures=0
PIDS=()
cleanup() {
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do  # the host before the display
    kill "${PIDS[i]}" 2> /dev/null
    wait "${PIDS[i]}" 2> /dev/null
  done
  PIDS=()
  $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
  $WINE reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f > /dev/null 2>&1
}
trap cleanup EXIT
check() {  # name, condition...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp > "$OUT/xvfb.log" 2>&1 &
PIDS+=($!)
export DISPLAY=$display
sleep 1
# There is no window manager on the virtual display: wine draws the frames
# itself, so that the X window is the whole window, caption and borders.
$WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null
$WINE reg add "$KEY" /v ip /t REG_SZ /d 127.0.0.1 /f > /dev/null
$WINE reg add "$KEY" /v Trivane1 /t REG_DWORD /d 1 /f > /dev/null
$WINE reg add "$KEY" /v echo /t REG_DWORD /d 1 /f > /dev/null
"$NATIVE/trivane-sim" --console 1 --universes 2 --rate 10 --quiet > /dev/null 2>&1 &
sim=$!
PIDS+=($sim)
$WINE "$WINDIR/previsa-host.exe" --seconds 25 > "$OUT/host.json" 2> "$OUT/host.log" &
PIDS+=($!)

# The window, as the X server knows it: id, title, size.
line=""
for _ in $(seq 1 60); do
  line=$(xwininfo -root -tree 2> /dev/null | grep '"Trivane previsa driver Echo"' | head -n 1)
  [ -n "$line" ] && break
  sleep 0.5
done
echo "window: ${line:-none}"
check "the window exists with its title" test -n "$line"
[ -n "$line" ] || { cat "$OUT/host.log"; exit 1; }
id=$(echo "$line" | awk '{ print $1 }')
geometry=$(xwininfo -id "$id" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } /Absolute upper-left X:/ { x = $4 }
  /Absolute upper-left Y:/ { y = $4 } END { print w "x" h "+" x "+" y }')
check "the window is 300 x 200 ($geometry)" test "${geometry%%+*}" = "300x200"

sleep 3                       # connected; lines written
kill "$sim" 2> /dev/null      # nothing new from here on but the line
sleep 4                       # that tells the stream stopped, 2 s later
shot() { import -window root "$OUT/screen.png" && convert "$OUT/screen.png" -crop "$geometry" +repage "$OUT/$1.png"; }
shot window-1
sleep 1
shot window-2
# The client area: inside the borders, below the caption, left of the
# scroll bar, above the lower one.
client() { convert "$OUT/$1.png" -crop 270x140+8+30 +repage "$OUT/$1-client.png"; }
client window-1
lit=$(convert "$OUT/window-1-client.png" -colorspace Gray -threshold 20% -format '%[fx:mean]' info:)
check "the client area shows lines (lit share $lit)" awk -v m="$lit" 'BEGIN { exit !(m > 0.005) }'
same=$(compare -metric AE "$OUT/window-1.png" "$OUT/window-2.png" null: 2>&1)
check "the picture stays while nothing happens ($same pixels differ)" test "${same%% *}" = "0"

xdotool windowfocus --sync "$id" 2> /dev/null || xdotool windowfocus "$id"
sleep 0.3
xdotool key Prior
sleep 1
shot window-paged
moved=$(compare -metric AE "$OUT/window-2.png" "$OUT/window-paged.png" null: 2>&1)
check "Page Up shows another page ($moved pixels differ)" awk -v n="${moved%% *}" 'BEGIN { exit !(n > 0) }'

# An unload from another thread than the window's: the window must not
# outlive the library, whose code its next message would run. The host's
# settings go where the test programs read them.
TESTKEY="HKCU\\Software\\PvTrivaneTests\\user\\${KEY#HKCU\\}"
$WINE reg add "$TESTKEY" /v ip /t REG_SZ /d 127.0.0.1 /f > /dev/null
$WINE reg add "$TESTKEY" /v Trivane1 /t REG_DWORD /d 1 /f > /dev/null
$WINE reg add "$TESTKEY" /v echo /t REG_DWORD /d 1 /f > /dev/null
timeout 60 $WINE "$WINDIR/unload_host.exe" "$WINDIR/PvTrivane.dll" 500 thread > "$OUT/unload-from-thread.log" 2>&1
status=$?
$WINE reg delete 'HKCU\Software\PvTrivaneTests' /f > /dev/null 2>&1
check "a window whose library is unloaded by another thread ends quietly (exit $status)" test "$status" -eq 0

[ $failures -eq 0 ] || { echo "$failures check(s) failed; screenshots in $OUT"; exit 1; }
echo "echo window checks passed; screenshots in $OUT"
