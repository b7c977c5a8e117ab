#!/usr/bin/env bash
# The installer's pages, seen: the installer and the uninstaller under wine
# on a virtual display, driven with the Enter key as a user who takes every
# proposal would. Each page must come and differ from the one before; the
# settings page's proposal (an interface of this machine, console 1) must end
# up in the registry. The screenshots stay in build/package/installer-screens.
#
#   installer_screens.sh DIST_DIR
#
# Runs in a network namespace of its own (root) with a second interface
# beside loopback, so that the settings page lists two.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${PV_IN_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "FAIL: the installer screens need root (network namespace)"; exit 1; }
  ns=pvshots$$
  ip netns add "$ns" || exit 1
  ip netns exec "$ns" sh -c 'ip link set lo up && ip link add show0 type veth peer name show1 && ip link set show1 up &&
    ip addr add 192.0.2.10/24 dev show0 && ip link set show0 up'
  PV_IN_NETNS=1 ip netns exec "$ns" "$0" "$@"
  status=$?
  ip netns delete "$ns"
  exit $status
fi
SETUP=$(ls "$(cd "${1:?dist folder}" && pwd)"/PvTrivane-*-setup.exe)
OUT=$ROOT/build/package/installer-screens
rm -rf "$OUT" && mkdir -p "$OUT"
export WINEPREFIX=$OUT/prefix WINEDEBUG=-all
WINE=/usr/lib/wine/wine
[ -x "$ROOT/build/package/installer-test/i386" ] && "$ROOT/build/package/installer-test/i386"
[ $? -eq 7 ] || WINE=/usr/lib/wine/wine64
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
failures=0
check() {  # name, condition...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
PIDS=()
trap 'kill "${PIDS[@]}" 2> /dev/null; wait 2> /dev/null' EXIT

display=:$((80 + RANDOM % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp > "$OUT/xvfb.log" 2>&1 &
PIDS+=($!)
export DISPLAY=$display
$WINE wineboot -i > /dev/null 2>&1
/usr/lib/wine/wineserver -w
# No window manager: wine draws the frames, so the X window is all of it.
$WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null

window() {  # title pattern: the window's id, waited for
  local line=""
  for _ in $(seq 1 60); do
    line=$(xwininfo -root -tree 2> /dev/null | grep -E "\"$1" | head -n 1)
    [ -n "$line" ] && break
    sleep 0.5
  done
  echo "$line" | awk '{ print $1 }'
}
previous=""
page() {  # window id, name: a screenshot of the window, which must differ from the last one
  sleep 1.5
  import -window "$1" "$OUT/$2.png" 2> /dev/null
  check "page $2" test -s "$OUT/$2.png"
  if [ -n "$previous" ]; then
    local changed
    changed=$(compare -metric AE "$OUT/$previous.png" "$OUT/$2.png" null: 2>&1)
    check "  another page than $previous (${changed%% *} pixels differ)" awk -v n="${changed%% *}" 'BEGIN { exit !(n > 0) }'
  fi
  previous=$2
}
enter() {
  xdotool windowfocus --sync "$1" 2> /dev/null || xdotool windowfocus "$1"
  xdotool key Return
}

$WINE "$SETUP" /IP=192.0.2.10 /CONSOLE1=1 > /dev/null 2>&1 &
PIDS+=($!)
id=$(window 'PvTrivane .* Setup')
check "the installer's window" test -n "$id"
[ -n "$id" ] || exit 1
for name in 1-welcome 2-components 3-driver-folder 4-settings; do
  page "$id" "$name"
  enter "$id"
done
page "$id" 5-finished
enter "$id"
/usr/lib/wine/wineserver -w
ip=$($WINE reg query "$KEY" /v ip 2> /dev/null | tr -d '\r' | awk '$1 == "ip" { print $3 }')
console=$($WINE reg query "$KEY" /v Trivane1 2> /dev/null | tr -d '\r' | awk '$1 == "Trivane1" { print $3 }')
check "the settings page's choice written: ip $ip, Trivane1 $console" test "$ip $console" = "192.0.2.10 0x1"

tools=$($WINE reg query 'HKLM\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver' /v ToolsFolder 2> /dev/null |
  tr -d '\r' | sed -n 's/^ *ToolsFolder *REG_SZ *//p')
$WINE "$tools\\uninstall.exe" > /dev/null 2>&1 &
id=$(window 'PvTrivane .* Uninstall')
check "the uninstaller's window" test -n "$id"
[ -n "$id" ] || exit 1
page "$id" 6-uninstall
enter "$id"
page "$id" 7-uninstalled
enter "$id"
/usr/lib/wine/wineserver -w
check "uninstalled" test ! -e "$($WINE winepath -u "$tools" 2> /dev/null | tr -d '\r')/uninstall.exe"

[ $failures -eq 0 ] || { echo "$failures check(s) failed; screenshots in $OUT"; exit 1; }
echo "installer pages seen; screenshots in $OUT"
