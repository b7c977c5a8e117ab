#!/usr/bin/env bash
# pvtrivane-config: writes what the driver then reads, keeps whatever else
# the settings hold, and refuses values the driver would not take, writing
# nothing then.
#
#   config_test.sh NATIVE_BUILD_DIR             the settings file (POSIX)
#   config_test.sh WINDOWS_BUILD_DIR wine32|wine64   the registry under that wine
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
MODE=${2:-native}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
WINE="$(dirname "$0")/../../scripts/wine-run $MODE"
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
failures=0

config() {  # arguments; output in $WORK/out, status in STATUS
  if [ "$MODE" != native ]; then
    $WINE "$BUILD/pvtrivane-config.exe" "$@" > "$WORK/out" 2>&1
  else
    "$BUILD/pvtrivane-config" --registry "$WORK/settings.reg" "$@" > "$WORK/out" 2>&1
  fi
  STATUS=$?
  tr -d '\r' < "$WORK/out" > "$WORK/out.txt"
}

check() {  # name, condition (a command), ...
  local name=$1
  shift
  if "$@"; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    cat "$WORK/out.txt"
    failures=$((failures + 1))
  fi
}
has() { grep -qF -- "$1" "$WORK/out.txt"; }
stored() {  # the stored settings as text
  if [ "$MODE" != native ]; then
    $WINE reg query "$KEY" 2>/dev/null | tr -d '\r'
  else
    cat "$WORK/settings.reg"
  fi
}

[ "$MODE" != native ] && $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
if [ "$MODE" = native ]; then
  # Another key of the file (the host's releases) must survive every write.
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard Lighting Limited\\Previsa\\R14]\n"ReleaseVer"="Release 14"\n' \
    > "$WORK/settings.reg"
fi

config --list
check "lists the interfaces, loopback among them" bash -c "[ $STATUS -eq 0 ] && grep -q '127.0.0.1' '$WORK/out.txt'"

config --ip 127.0.0.1 --console1 5 --console2 7 --autofocus midi --echo on --show
check "writes and reads back through the driver's own reader" bash -c "[ $STATUS -eq 0 ] && grep -q 'Trivane1  = 5' '$WORK/out.txt' &&
  grep -q 'Trivane2  = 7' '$WORK/out.txt' && grep -q 'Autofocus = 2  -> MIDI autofocus' '$WORK/out.txt' &&
  grep -q 'ip        = 127.0.0.1' '$WORK/out.txt'"
stored > "$WORK/stored.txt"
check "the stored values" grep -qi 'Trivane2' "$WORK/stored.txt"
if [ "$MODE" = native ]; then
  check "other keys stay" grep -qF '"ReleaseVer"="Release 14"' "$WORK/settings.reg"
fi

before=$(stored)
config --ip 198.51.100.1
check "an address that is no interface is refused" bash -c "[ $STATUS -eq 2 ] && grep -q 'is no address of this machine' '$WORK/out.txt'"
config --console3 40
check "a console outside 1..31 is refused" bash -c "[ $STATUS -eq 2 ] && grep -q 'a console number is 1 to 31' '$WORK/out.txt'"
config --autofocus sometimes
check "an unknown autofocus kind is refused" bash -c "[ $STATUS -eq 2 ]"
check "a refusal writes nothing" test "$before" = "$(stored)"

config --ip 198.51.100.1 --force --console2 0 --autofocus auto --show
check "--force takes it; 0 and auto remove values" bash -c "[ $STATUS -eq 0 ] && grep -q 'ip        = 198.51.100.1' '$WORK/out.txt' &&
  grep -q 'Trivane2  = (not set)' '$WORK/out.txt' && grep -q 'Autofocus = (not set' '$WORK/out.txt' &&
  grep -q 'Trivane1  = 5' '$WORK/out.txt'"

config --file "$WORK/export.reg" --ip 127.0.0.1 --console1 9
check "--file writes a .reg file and leaves the driver's settings alone" bash -c "[ $STATUS -eq 0 ] && [ -s '$WORK/export.reg' ]"
if [ "$MODE" != native ]; then
  check "the .reg file is regedit's UTF-16" bash -c "iconv -f UTF-16 -t UTF-8 '$WORK/export.reg' | grep -q 'Trivane1\"=dword:00000009'"
  $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
else
  check "the .reg file" grep -q 'Trivane1"=dword:00000009' "$WORK/export.reg"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all config checks passed ($MODE)"
