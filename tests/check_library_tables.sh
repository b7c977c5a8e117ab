#!/bin/sh
# Checks the driver library's export and import tables.
#   windows <compiler> <dll> <exports.txt>: exactly the listed exports, and
#     imports from Windows system DLLs only (objdump -p of the same toolchain)
#   posix <nm> <so> <exports.txt>: exactly the listed exports
set -u
kind=$1 tool=$2 library=$3 expected=$4
want=$(sort "$expected")
case $kind in
windows)
  objdump=$(echo "$tool" | sed 's/g++\(-posix\)\{0,1\}$/objdump/')
  table=$("$objdump" -p "$library") || { echo "cannot read $library"; exit 1; }
  got=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' | sort)
  imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p')
  bad=$(printf '%s\n' "$imports" | grep -viE '^(kernel32|user32|gdi32|advapi32|ws2_32|msvcrt|ntdll|shell32|ole32|comctl32|mswsock|api-ms-win-[a-z0-9-]+)\.dll$' || true)
  if [ -n "$bad" ]; then echo "imports from non-system DLLs:"; echo "$bad"; exit 1; fi
  echo "imports: $(echo $imports)"
  # The version resource a user sees in the file's properties.
  strings=$(strings -e l "$library")
  for field in "ProductName" "PvTrivane" "FileDescription" "FileVersion" "ProductVersion"; do
    printf '%s\n' "$strings" | grep -qx "$field" || { echo "version resource lacks $field"; exit 1; }
  done
  echo "version resource: $(printf '%s\n' "$strings" | grep -A1 -x FileDescription | tail -1)"
  ;;
posix)
  got=$("$tool" -D --defined-only "$library" | awk '$2 ~ /^[TW]$/ {print $3}' | sort)
  ;;
*)
  echo "usage: $0 windows|posix tool library exports.txt"; exit 2 ;;
esac
if [ "$got" != "$want" ]; then
  echo "exports differ from $expected:"
  printf '%s\n' "$want" > /tmp/pv_want.$$; printf '%s\n' "$got" > /tmp/pv_got.$$
  diff /tmp/pv_want.$$ /tmp/pv_got.$$; rm -f /tmp/pv_want.$$ /tmp/pv_got.$$
  exit 1
fi
echo "exports: $(printf '%s\n' "$got" | wc -l) as listed"
