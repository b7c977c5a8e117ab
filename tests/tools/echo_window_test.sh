#!/usr/bin/env bash
# The echo window, seen: the Windows test host under wine on a virtual
# display, with "echo" = 1, connected to the native simulator. The window
# must exist with its title at 300 x 200, paint lines (pixels other than its
# black background in the client area), stay still while nothing happens,
# show another page after Page Up, and end quietly when another thread
# unloads its library. The screenshots stay in OUT_DIR.
#
#   echo_window_test.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR [wine32|wine64]
set -uo pipefail
NATIVE=$(cd "${1:?native build folder}" && pwd) WINDIR=$(cd "${2:?windows build folder}" && pwd) MODE=${3:-wine64}
OUT_DIR=$WINDIR/echo-window CASE=echo
source "$(dirname "$0")/common.sh"
need 1 Xvfb xwininfo import convert compare xdotool
trap 'cleanup; $WINE reg delete "HKCU\Software\Orvell Stagecraft" /f > /dev/null 2>&1
  $WINE reg delete "HKCU\Software\Wine\X11 Driver" /v Managed /f > /dev/null 2>&1' EXIT

display 90 "$OUT_DIR/xvfb.log"
settings ip=127.0.0.1 Trivane1=1 echo=1
sim --console 1 --universes 2 --rate 10 --quiet
sim_pid=${PIDS[-1]}
start $WINE "$WINDIR/previsa-host.exe" --seconds 25 > "$OUT_DIR/host.json" 2> "$OUT_DIR/host.log"

id=$(window 'Trivane previsa driver Echo"')
check "the window exists with its title" test -n "$id" || { cat "$OUT_DIR/host.log"; exit 1; }
geometry=$(xwininfo -id "$id" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } /Absolute upper-left X:/ { x = $4 }
  /Absolute upper-left Y:/ { y = $4 } END { print w "x" h "+" x "+" y }')
check "the window is 300 x 200 ($geometry)" test "${geometry%%+*}" = "300x200"

sleep 3                        # connected; lines written
kill "$sim_pid" 2> /dev/null   # nothing new from here on but the line
sleep 4                        # that tells the stream stopped, 2 s later
shot() { import -window root "$OUT_DIR/screen.png" && convert "$OUT_DIR/screen.png" -crop "$geometry" +repage "$OUT_DIR/$1.png"; }
shot window-1
sleep 1
shot window-2
# The client area: inside the borders and scroll bars, below the caption.
convert "$OUT_DIR/window-1.png" -crop 270x140+8+30 +repage "$OUT_DIR/window-1-client.png"
lit=$(convert "$OUT_DIR/window-1-client.png" -colorspace Gray -threshold 20% -format '%[fx:mean]' info:)
check "the client area shows lines (lit share $lit)" awk -v m="$lit" 'BEGIN { exit !(m > 0.005) }'
same=$(differ "$OUT_DIR/window-1.png" "$OUT_DIR/window-2.png")
check "the picture stays while nothing happens ($same pixels differ)" test "$same" = 0
press "$id" Prior
sleep 1
shot window-paged
moved=$(differ "$OUT_DIR/window-2.png" "$OUT_DIR/window-paged.png")
check "Page Up shows another page ($moved pixels differ)" test "$moved" -gt 0

# An unload from another thread than the window's: the window must not
# outlive the library, whose code its next message would run. The host's
# settings go where the test programs read them.
KEY="HKCU\\Software\\PvTrivaneTests\\user\\${KEY#HKCU\\}" settings ip=127.0.0.1 Trivane1=1 echo=1
timeout 60 $WINE "$WINDIR/unload_host.exe" "$WINDIR/PvTrivane.dll" 500 thread > "$OUT_DIR/unload-from-thread.log" 2>&1
status=$?
$WINE reg delete 'HKCU\Software\PvTrivaneTests' /f > /dev/null 2>&1
check "a window whose library is unloaded by another thread ends quietly (exit $status)" test "$status" -eq 0
finish "echo window checks passed" "screenshots in $OUT_DIR"
