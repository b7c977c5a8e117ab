#!/usr/bin/env bash
# The installer on a fresh Windows (a new wine prefix): an older version
# silently with settings, the upgrade to this one into another driver folder
# (settings and choices kept, nothing old left), the installed tools naming
# the installed DLL's build and diagnosing the native simulator, a refused
# setting, and the uninstaller leaving files and keys as they were but for
# the settings (gone with /REMOVESETTINGS). The firewall commands are read
# from wine's log of its netsh, which only records them.
#
#   installer_test.sh DIST_DIR STAGE_DIR NATIVE_TOOLS_DIR   (root: a network namespace of its own)
set -uo pipefail
OUT_DIR=$(cd "$(dirname "$0")/../.." && pwd)/build/package/installer-test
source "$(dirname "$0")/../tools/common.sh"
in_netns true "$@"
DIST=$(cd "${1:?dist folder}" && pwd) STAGE=$(cd "${2:?stage folder}" && pwd) NATIVE=$(cd "${3:?native tools folder}" && pwd)
SETUP=$(ls "$DIST"/PvTrivane-*-setup.exe)
VERSION=$(basename "$SETUP" -setup.exe)
VERSION=${VERSION#PvTrivane-}
MINE='HKLM\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver'
ENTRY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PvTrivane'
fresh_wine "$OUT_DIR/prefix"
echo "wine: $WINE, $VERSION"

value() { $WINE reg query "$1" /v "$2" 2> /dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }  # key, name
unix() { $WINE winepath -u "$1" 2> /dev/null | tr -d '\r'; }
# Every file and folder outside Windows' own and the temporary ones.
files() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -ipath '*/temp' -prune -o -print | sort); }
# An installer with its arguments, STATUS set; the commands it gives netsh go to netsh.log.
setup() { WINEDEBUG=fixme+netsh $WINE "$@" 2>> "$OUT_DIR/netsh.log" > /dev/null; STATUS=$?; /usr/lib/wine/wineserver -w; }
stored() { echo "$(value "$KEY" ip) $(value "$KEY" Trivane1) $(value "$KEY" Trivane2) $(value "$KEY" Trivane3)"; }
rules() { grep -c "L\"$1\" L\"rule\" L\"name=PvTrivane: Trivane consoles (UDP 6007, 9138)\"" "$OUT_DIR/netsh.log"; }

files > "$OUT_DIR/files-before.txt"
makensis -V1 -DVERSION=3.12.0+old -DVERSION_NUMBERS=3.12.0.0 -DSTAGE="$STAGE" -DOUTFILE="$OUT_DIR/old-setup.exe" \
  "$ROOT/installer/PvTrivane.nsi"

echo "-- an older version, silently, with settings, the firewall rule and the dissector"
setup "$OUT_DIR/old-setup.exe" /S /IP=127.0.0.1 /CONSOLE1=1 /CONSOLE2=5 /FIREWALL=1 /WIRESHARK=1
check "installed (status $STATUS)" test "$STATUS" -eq 0
check "listed in the installed programs as 3.12.0+old" test "$(value "$ENTRY" DisplayVersion)" = 3.12.0+old
check "settings written: $(stored)" test "$(stored)" = "127.0.0.1 0x1 0x5 "
OLD_DRIVER=$(unix "$(value "$MINE" DriverFolder)")
check "the DLL in the default driver folder" test -f "$OLD_DRIVER/PvTrivane.dll"
check "a firewall rule for UDP 6007 and 9138 added" grep -q 'L"localport=6007,9138"' "$OUT_DIR/netsh.log"

echo "-- this version over it, silently, into another driver folder, no settings given"
setup "$SETUP" /S '/DRIVERDIR=C:\Previsa\Drivers'
check "installed (status $STATUS)" test "$STATUS" -eq 0
check "listed as $VERSION" test "$(value "$ENTRY" DisplayVersion)" = "$VERSION"
check "the settings kept: $(stored)" test "$(stored)" = "127.0.0.1 0x1 0x5 "
check "the DLL in the new folder, as packaged" cmp -s "$WINEPREFIX/drive_c/Previsa/Drivers/PvTrivane.dll" "$STAGE/PvTrivane.dll"
check "nothing left of the old driver folder" test ! -e "$OLD_DRIVER"
check "the firewall rule again (the earlier choice)" test "$(rules add)" -eq 2
TOOLS=$(unix "$(value "$MINE" ToolsFolder)")
for f in pvtrivane-diagnose.exe pvtrivane-config.exe previsa-host.exe pvtrivane-record.exe trivane-sim.exe \
  settings-example.reg "PvTrivane for technicians.txt" uninstall.exe; do check "tools folder: $f" test -f "$TOOLS/$f"; done
check "the dissector in the personal Wireshark plugins" test -f "$(unix "$(value "$MINE" WiresharkPlugin)")"

echo "-- the installed tools"
$WINE "$TOOLS/previsa-host.exe" --version 2>&1 | tr -d '\r' | tee "$OUT_DIR/host-version.txt"
check "previsa-host names the installed DLL's build" \
  grep -qF "C:\\Previsa\\Drivers\\PvTrivane.dll: file version ${VERSION%%+*}.0, build $VERSION" "$OUT_DIR/host-version.txt"
for n in 1 5; do start "$NATIVE/trivane-sim" --console $n --universes 2 --seconds 20 --quiet > /dev/null 2>&1; done
sleep 0.5
$WINE "$TOOLS/pvtrivane-diagnose.exe" --seconds 2 2>&1 | tr -d '\r' > "$OUT_DIR/diagnose.txt"
diagnosed=${PIPESTATUS[0]}
cleanup
check "pvtrivane-diagnose: consoles 1 and 5 stream (status $diagnosed)" test "$diagnosed" -eq 0
check "pvtrivane-diagnose names the build" grep -qF "build $VERSION" "$OUT_DIR/diagnose.txt"

echo "-- a setting that pvtrivane-config refuses"
setup "$SETUP" /S /IP=192.0.2.77
check "refused with status 2 ($STATUS)" test "$STATUS" -eq 2
check "the settings untouched" test "$(stored)" = "127.0.0.1 0x1 0x5 "

echo "-- uninstall"
setup "$TOOLS/uninstall.exe" /S
files > "$OUT_DIR/files-after.txt"
check "every file and folder it added is gone" diff "$OUT_DIR/files-before.txt" "$OUT_DIR/files-after.txt"
check "its keys are gone" test -z "$(value "$MINE" Version)$(value "$ENTRY" DisplayVersion)"
check "the firewall rule removed" test "$(rules delete)" -ge 2
check "the settings stay" test "$(stored)" = "127.0.0.1 0x1 0x5 "
setup "$SETUP" /S /CONSOLE3=9
setup "$TOOLS/uninstall.exe" /S /REMOVESETTINGS
check "/REMOVESETTINGS removes them" test "$(stored)" = "   "
finish "installer checks passed" "logs in $OUT_DIR"
