#!/usr/bin/env bash
# The installer's pages, seen: the installer and the uninstaller under wine
# on a virtual display, driven with the Enter key as a user who takes every
# proposal would. Each page must come and differ from the one before; the
# settings page's proposal (an interface of this machine, console 1) must end
# up in the registry. Screenshots in build/package/installer-screens.
#
#   installer_screens.sh DIST_DIR   (root: a network namespace with a second interface, so that two are listed)
set -uo pipefail
OUT_DIR=$(cd "$(dirname "$0")/../.." && pwd)/build/package/installer-screens
source "$(dirname "$0")/../tools/common.sh"
in_netns 'ip link add show0 type veth peer name show1 && ip link set show1 up &&
  ip addr add 192.0.2.10/24 dev show0 && ip link set show0 up' "$@"
SETUP=$(ls "$(cd "${1:?dist folder}" && pwd)"/PvTrivane-*-setup.exe)
fresh_wine "$OUT_DIR/prefix"
display 80 "$OUT_DIR/xvfb.log"

previous=""
page() {  # window id, name: a screenshot of the window, which must differ from the last one
  sleep 1.5
  import -window "$1" "$OUT_DIR/$2.png" 2> /dev/null
  check "page $2" test -s "$OUT_DIR/$2.png"
  local changed=$([ -z "$previous" ] || differ "$OUT_DIR/$previous.png" "$OUT_DIR/$2.png")
  [ -z "$previous" ] || check "  another page than $previous ($changed pixels differ)" test "$changed" -gt 0
  previous=$2
  press "$1" Return
}

start $WINE "$SETUP" /IP=192.0.2.10 /CONSOLE1=1 > /dev/null 2>&1
id=$(window 'PvTrivane .* Setup')
check "the installer's window" test -n "$id" || exit 1
for name in 1-welcome 2-components 3-driver-folder 4-settings 5-finished; do page "$id" "$name"; done
/usr/lib/wine/wineserver -w
ip=$($WINE reg query "$KEY" /v ip 2> /dev/null | tr -d '\r' | awk '$1 == "ip" { print $3 }')
console=$($WINE reg query "$KEY" /v Trivane1 2> /dev/null | tr -d '\r' | awk '$1 == "Trivane1" { print $3 }')
check "the settings page's choice written: ip $ip, Trivane1 $console" test "$ip $console" = "192.0.2.10 0x1"

tools=$($WINE reg query 'HKLM\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver' /v ToolsFolder 2> /dev/null |
  tr -d '\r' | sed -n 's/^ *ToolsFolder *REG_SZ *//p')
$WINE "$tools\\uninstall.exe" > /dev/null 2>&1 &
id=$(window 'PvTrivane .* Uninstall')
check "the uninstaller's window" test -n "$id" || exit 1
page "$id" 6-uninstall
page "$id" 7-uninstalled
/usr/lib/wine/wineserver -w
check "uninstalled" test ! -e "$($WINE winepath -u "$tools" 2> /dev/null | tr -d '\r')/uninstall.exe"
finish "installer pages seen" "screenshots in $OUT_DIR"
