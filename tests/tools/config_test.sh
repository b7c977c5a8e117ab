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
utf8() { if [ "$MODE" != native ]; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi; }  # a .reg file's text
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

# A .reg file for another machine: its address is not this machine's; --show
# shows the file, not the live settings.
config --file "$WORK/export.reg" --ip 10.0.0.5 --console1 9 --show
check "--file writes a file for another machine and shows it" bash -c "[ $STATUS -eq 0 ] &&
  grep -q 'ip        = 10.0.0.5' '$WORK/out.txt' && grep -q 'Trivane1  = 9' '$WORK/out.txt'"
if [ "$MODE" != native ]; then
  check "the .reg file is regedit's UTF-16" test "$(head -c 2 "$WORK/export.reg" | od -An -tx1 | tr -d ' ')" = fffe
fi
utf8 "$WORK/export.reg" > "$WORK/export.txt"
check "the .reg file" grep -q 'Trivane1"=dword:00000009' "$WORK/export.txt"
check "the live settings stay" bash -c "! grep -qi 'Trivane1.*9' <<< '$(stored)'"

# A value missing at the end, or empty, is refused and writes nothing.
before=$(stored)
for args in "--ip" "--ip ''" "--console1 4 --file"; do
  eval config "$args"
  check "\"$args\" is refused" bash -c "[ $STATUS -eq 2 ] && grep -q 'needs a value' '$WORK/out.txt'"
done
check "and nothing was written" test "$before" = "$(stored)"

# The writer finds the driver's key however the reader would: HKCU, any
# case, a trailing backslash, spaces around "=", the key twice. A removal
# takes the value out of every copy; nothing is added twice.
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings\]' '"Trivane2" = dword:00000007' \
  '"ip"="127.0.0.1"' '' '[hkey_current_user\software\orvell stagecraft\trivane - previsa protocol driver\settings]' \
  '"trivane2"=dword:00000008' > "$WORK/variants.reg"
config --file "$WORK/variants.reg" --console2 0 --console3 4 --show
check "a removal leaves no copy in force" bash -c "[ $STATUS -eq 0 ] && grep -q 'Trivane2  = (not set)' '$WORK/out.txt' &&
  grep -q 'Trivane3  = 4' '$WORK/out.txt' && grep -q 'ip        = 127.0.0.1' '$WORK/out.txt'"
sections=$(utf8 "$WORK/variants.reg" | grep -c '^\[')
check "no section added ($sections)" test "$sections" -eq 2
check "when the driver takes each value" has "Trivane2 removed: the driver keeps the number it read until it is loaded again"
check "... and a new number" has "Trivane3 = 4: read at the driver's next Init"

if [ "$MODE" = native ]; then
  # A reader never finds the settings file missing while it is rewritten.
  ( for i in $(seq 1 50); do "$BUILD/pvtrivane-config" --registry "$WORK/settings.reg" --console1 $((i % 31 + 1)) > /dev/null; done ) &
  writer=$! missing=0
  while kill -0 $writer 2> /dev/null; do [ -e "$WORK/settings.reg" ] || missing=$((missing + 1)); done
  check "the settings file is replaced in one step ($missing reads found none)" test $missing -eq 0
fi
[ "$MODE" != native ] && $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all config checks passed ($MODE)"
