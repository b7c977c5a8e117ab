#!/usr/bin/env bash
# The installer on a fresh Windows (a new wine prefix): a silent install of
# an older version with settings, the upgrade to this one into another
# driver folder (settings and choices kept, nothing of the old left), the
# installed tools naming the installed DLL's build and the diagnose against
# the native simulator, a refused setting, and the uninstaller leaving the
# machine's files and keys as they were but for the settings (gone only
# with /REMOVESETTINGS). The firewall commands are read from wine's log of
# its netsh, which only records them.
#
#   installer_test.sh DIST_DIR STAGE_DIR NATIVE_TOOLS_DIR
#
# Runs in a network namespace of its own (root): the simulator and the
# diagnose use the consoles' multicast groups and ports.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${PV_IN_NETNS:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "FAIL: the installer test needs root (network namespace)"; exit 1; }
  ns=pvpkg$$
  ip netns add "$ns" || exit 1
  ip netns exec "$ns" ip link set lo up
  PV_IN_NETNS=1 ip netns exec "$ns" "$0" "$@"
  status=$?
  ip netns delete "$ns"
  exit $status
fi
DIST=$(cd "${1:?dist folder}" && pwd)
STAGE=$(cd "${2:?stage folder}" && pwd)
NATIVE=$(cd "${3:?native tools folder}" && pwd)
SETUP=$(ls "$DIST"/PvTrivane-*-setup.exe)
VERSION=$(basename "$SETUP" -setup.exe)
VERSION=${VERSION#PvTrivane-}
OUT=$ROOT/build/package/installer-test
rm -rf "$OUT" && mkdir -p "$OUT"
export WINEPREFIX=$OUT/prefix WINEDEBUG=-all
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
MINE='HKLM\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver'
ENTRY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PvTrivane'
failures=0
check() {  # name, condition...
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

# 32-bit wine where this machine runs 32-bit programs, else wine64.
printf '.globl _start\n_start: movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' > "$OUT/i386.s"
as --32 "$OUT/i386.s" -o "$OUT/i386.o" && ld -m elf_i386 "$OUT/i386.o" -o "$OUT/i386" 2> /dev/null
"$OUT/i386" 2> /dev/null
if [ $? -eq 7 ]; then WINE=/usr/lib/wine/wine; else WINE=/usr/lib/wine/wine64; fi
echo "wine: $WINE, $VERSION"
$WINE wineboot -i > /dev/null 2>&1
/usr/lib/wine/wineserver -w

value() {  # key, value name: the data, as reg shows it
  $WINE reg query "$1" /v "$2" 2> /dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
unix() { $WINE winepath -u "$1" 2> /dev/null | tr -d '\r'; }
# Every file and folder outside Windows' own and the temporary ones.
files() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -ipath '*/temp' -prune -o -print | sort); }
setup() {  # installer, arguments...: STATUS; netsh's commands go to netsh.log
  WINEDEBUG=fixme+netsh $WINE "$@" 2>> "$OUT/netsh.log" > /dev/null
  STATUS=$?
  /usr/lib/wine/wineserver -w
}
settings() { echo "$(value "$KEY" ip) $(value "$KEY" Trivane1) $(value "$KEY" Trivane2) $(value "$KEY" Trivane3)"; }
rules() { grep -c "L\"$1\" L\"rule\" L\"name=PvTrivane: Trivane consoles (UDP 6007, 9138)\"" "$OUT/netsh.log"; }

files > "$OUT/files-before.txt"
makensis -V1 -DVERSION=3.12.0+old -DVERSION_NUMBERS=3.12.0.0 -DSTAGE="$STAGE" -DOUTFILE="$OUT/old-setup.exe" \
  "$ROOT/installer/PvTrivane.nsi"

echo "-- an older version, silently, with settings, the firewall rule and the dissector"
setup "$OUT/old-setup.exe" /S /IP=127.0.0.1 /CONSOLE1=1 /CONSOLE2=5 /FIREWALL=1 /WIRESHARK=1
check "installed (status $STATUS)" test "$STATUS" -eq 0
check "listed in the installed programs as 3.12.0+old" test "$(value "$ENTRY" DisplayVersion)" = 3.12.0+old
check "settings written: $(settings)" test "$(settings)" = "127.0.0.1 0x1 0x5 "
OLD_DRIVER=$(unix "$(value "$MINE" DriverFolder)")
check "the DLL in the default driver folder" test -f "$OLD_DRIVER/PvTrivane.dll"
check "a firewall rule for UDP 6007 and 9138 added" grep -q 'L"localport=6007,9138"' "$OUT/netsh.log"

echo "-- this version over it, silently, into another driver folder, no settings given"
setup "$SETUP" /S '/DRIVERDIR=C:\Previsa\Drivers'
check "installed (status $STATUS)" test "$STATUS" -eq 0
check "listed as $VERSION" test "$(value "$ENTRY" DisplayVersion)" = "$VERSION"
check "the settings kept: $(settings)" test "$(settings)" = "127.0.0.1 0x1 0x5 "
check "the DLL in the new folder, as packaged" cmp -s "$WINEPREFIX/drive_c/Previsa/Drivers/PvTrivane.dll" "$STAGE/PvTrivane.dll"
check "nothing left of the old driver folder" test ! -e "$OLD_DRIVER"
check "the firewall rule again (the earlier choice)" test "$(rules add)" -eq 2
TOOLS=$(unix "$(value "$MINE" ToolsFolder)")
for f in pvtrivane-diagnose.exe pvtrivane-config.exe previsa-host.exe pvtrivane-record.exe trivane-sim.exe settings-example.reg \
         "PvTrivane for technicians.txt" uninstall.exe; do
  check "tools folder: $f" test -f "$TOOLS/$f"
done
check "the dissector in the personal Wireshark plugins" \
  test -f "$(unix "$(value "$MINE" WiresharkPlugin)")"

echo "-- the installed tools"
$WINE "$TOOLS/previsa-host.exe" --version 2>&1 | tr -d '\r' > "$OUT/host-version.txt"
cat "$OUT/host-version.txt"
check "previsa-host names the installed DLL's build" \
  grep -qF "C:\\Previsa\\Drivers\\PvTrivane.dll: file version ${VERSION%%+*}.0, build $VERSION" "$OUT/host-version.txt"
sims=()
for n in 1 5; do
  "$NATIVE/trivane-sim" --console $n --universes 2 --seconds 20 --quiet > /dev/null 2>&1 &
  sims+=($!)
done
sleep 0.5
$WINE "$TOOLS/pvtrivane-diagnose.exe" --seconds 2 2>&1 | tr -d '\r' > "$OUT/diagnose.txt"
diagnosed=${PIPESTATUS[0]}
kill "${sims[@]}" 2> /dev/null
wait "${sims[@]}" 2> /dev/null
check "pvtrivane-diagnose: consoles 1 and 5 stream (status $diagnosed)" test "$diagnosed" -eq 0
check "pvtrivane-diagnose names the build" grep -qF "build $VERSION" "$OUT/diagnose.txt"

echo "-- a setting that pvtrivane-config refuses"
setup "$SETUP" /S /IP=192.0.2.77
check "refused with status 2 ($STATUS)" test "$STATUS" -eq 2
check "the settings untouched" test "$(settings)" = "127.0.0.1 0x1 0x5 "

echo "-- uninstall"
setup "$TOOLS/uninstall.exe" /S
files > "$OUT/files-after.txt"
check "every file and folder it added is gone" diff "$OUT/files-before.txt" "$OUT/files-after.txt"
check "its keys are gone" test -z "$(value "$MINE" Version)$(value "$ENTRY" DisplayVersion)"
check "the firewall rule removed" test "$(rules delete)" -ge 2
check "the settings stay" test "$(settings)" = "127.0.0.1 0x1 0x5 "
setup "$SETUP" /S /CONSOLE3=9
setup "$TOOLS/uninstall.exe" /S /REMOVESETTINGS
check "/REMOVESETTINGS removes them" test "$(settings)" = "   "

[ $failures -eq 0 ] || { echo "$failures installer check(s) failed; logs in $OUT"; exit 1; }
echo "installer checks passed"
