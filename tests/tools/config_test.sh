#!/usr/bin/env bash
# pvtrivane-config: writes what the driver then reads, keeps whatever else
# the settings hold, and refuses values the driver would not take, writing
# nothing then.
#
#   config_test.sh NATIVE_BUILD_DIR                  the settings file (POSIX)
#   config_test.sh WINDOWS_BUILD_DIR wine32|wine64   the registry under that wine
set -uo pipefail
NATIVE=$(cd "${1:?build folder}" && pwd) MODE=${2:-native}
WINDIR=$NATIVE OUT_DIR=$(mktemp -d) CASE=config
source "$(dirname "$0")/common.sh"
trap 'rm -rf "$OUT_DIR"; [ "$MODE" = native ] || $WINE reg delete "HKCU\Software\Orvell Stagecraft" /f > /dev/null 2>&1' EXIT

config() { tool pvtrivane-config "$@" 2>&1 | tr -d '\r' > "$OUT_DIR/config.txt"; STATUS=${PIPESTATUS[0]}; }
reg_text() { if [ "$MODE" = native ]; then cat "$1"; else iconv -f UTF-16 -t UTF-8 "$1"; fi; }
stored() { if [ "$MODE" = native ]; then cat "$OUT_DIR/config.reg"; else $WINE reg query "$KEY" 2> /dev/null | tr -d '\r'; fi; }

[ "$MODE" = native ] || $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
# Another key of the file (the host's releases) must survive every write.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvard Lighting Limited\\Previsa\\R14]\n"ReleaseVer"="Release 14"\n' \
  > "$OUT_DIR/config.reg"

IN=txt
config --list
expect "lists the interfaces, loopback among them" 0 "127.0.0.1"
config --ip 127.0.0.1 --console1 5 --console2 7 --autofocus midi --echo on --show
expect "writes and reads back through the driver's own reader" 0 "Trivane1  = 5" "Trivane2  = 7" \
  "Autofocus = 2  -> MIDI autofocus" "ip        = 127.0.0.1"
[ "$MODE" != native ] || check "other keys stay" grep -qF '"ReleaseVer"="Release 14"' "$OUT_DIR/config.reg"
[ "$MODE" != native ] || check "--show names the settings file" grep -qF "Settings in $OUT_DIR/config.reg:" "$OUT_DIR/config.txt"

# Refused (arguments|what is said): an address that is no interface, a
# console outside 1..31, an unknown autofocus kind, a value missing at the end
# or empty; a refusal writes nothing.
before=$(stored)
for refusal in "--ip 198.51.100.1|is no address of this machine" "--console3 40|a console number is 1 to 31" \
  "--autofocus sometimes|autofocus is blind, midi, off or auto" "--ip|needs a value" "--ip ''|needs a value" \
  "--console1 4 --file|needs a value"; do
  eval config "${refusal%|*}"
  expect "${refusal%|*}: refused" 2 "${refusal#*|}"
done
check "a refusal writes nothing" test "$before" = "$(stored)"

config --ip 198.51.100.1 --force --console2 0 --autofocus auto --show
expect "--force takes it; 0 and auto remove values" 0 "ip        = 198.51.100.1" "Trivane2  = (not set)" \
  "Autofocus = (not set" "Trivane1  = 5"

# A .reg file for another machine: its address is not this machine's; --show
# shows the file, not the live settings.
config --file "$OUT_DIR/export.reg" --ip 10.0.0.5 --console1 9 --show
expect "--file writes a file for another machine and shows it" 0 "ip        = 10.0.0.5" "Trivane1  = 9"
[ "$MODE" = native ] ||
  check "the .reg file is regedit's UTF-16" test "$(head -c 2 "$OUT_DIR/export.reg" | od -An -tx1 | tr -d ' ')" = fffe
check "the .reg file" grep -q 'Trivane1"=dword:00000009' <(reg_text "$OUT_DIR/export.reg")
check "the live settings stay" test -z "$(stored | grep -i 'Trivane1.*9')"

# The writer finds the driver's key however the reader would: HKCU, any
# case, a trailing backslash, spaces around "=", the key twice. A removal
# takes the value out of every copy; nothing is added twice.
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings\]' '"Trivane2" = dword:00000007' \
  '"ip"="127.0.0.1"' '' '[hkey_current_user\software\orvell stagecraft\trivane - previsa protocol driver\settings]' \
  '"trivane2"=dword:00000008' > "$OUT_DIR/variants.reg"
config --file "$OUT_DIR/variants.reg" --console2 0 --console3 4 --show
expect "a removal leaves no copy in force; when the driver takes each value" 0 "Trivane2  = (not set)" \
  "Trivane3  = 4" "ip        = 127.0.0.1" "Trivane2 removed: the driver keeps the number it read until it is loaded again" \
  "Trivane3 = 4: read at the driver's next Init"
check "no section added" test "$(reg_text "$OUT_DIR/variants.reg" | grep -c '^\[')" -eq 2

if [ "$MODE" = native ]; then
  # A reader never finds the settings file missing while it is rewritten.
  (for i in $(seq 1 50); do tool pvtrivane-config --console1 $((i % 31 + 1)) > /dev/null; done) &
  writer=$! missing=0
  while kill -0 $writer 2> /dev/null; do [ -e "$OUT_DIR/config.reg" ] || missing=$((missing + 1)); done
  check "the settings file is replaced in one step ($missing reads found none)" test $missing -eq 0
fi
finish "all config checks passed ($MODE)"
