#!/usr/bin/env bash
# Checks the driver library's export and import tables.
#   windows <compiler> <dll> <exports.txt>: exactly the listed exports,
#     imports from Windows system DLLs only (objdump -p of the same
#     toolchain) and the version resource a user sees in the file's properties
#   posix <nm> <so> <exports.txt>: exactly the listed exports
set -u
kind=$1 tool=$2 library=$3 expected=$4
case $kind in
windows)
  table=$("${tool%g++*}objdump" -p "$library") || { echo "cannot read $library"; exit 1; }
  got=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' \
    <<< "$table")
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$table")
  bad=$(grep -viE '^(kernel32|user32|gdi32|advapi32|ws2_32|msvcrt|ntdll|shell32|ole32|comctl32|mswsock|api-ms-win-[a-z0-9-]+)\.dll$' \
    <<< "$imports")
  [ -z "$bad" ] || { printf 'imports from non-system DLLs:\n%s\n' "$bad"; exit 1; }
  echo "imports:" $imports
  strings=$(strings -e l "$library")
  for field in ProductName PvTrivane FileDescription FileVersion ProductVersion; do
    grep -qx "$field" <<< "$strings" || { echo "version resource lacks $field"; exit 1; }
  done
  echo "version resource: $(grep -A1 -x FileDescription <<< "$strings" | tail -1)" ;;
posix)
  got=$("$tool" -D --defined-only "$library" | awk '$2 ~ /^[TW]$/ { print $3 }') ;;
*)
  echo "usage: $0 windows|posix tool library exports.txt"; exit 2 ;;
esac
difference=$(diff <(sort "$expected") <(sort <<< "$got")) || { printf 'exports differ from %s:\n%s\n' "$expected" "$difference"; exit 1; }
echo "exports: $(wc -l <<< "$got") as listed"
