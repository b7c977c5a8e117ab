# Sourced by the field tools' and the package's tests. The caller sets MODE
# (native, wine32, wine64), NATIVE and WINDIR (build folders) and OUT_DIR
# (made anew); CASE names the case whose files go there.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
MODE=${MODE:-native}
WINE="$ROOT/scripts/wine-run $MODE"
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
failures=0 PIDS=()
[ -z "${OUT_DIR:-}" ] || { rm -rf "$OUT_DIR" && mkdir -p "$OUT_DIR"; }

check() {  # name, command...: passes when the command does
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); return 1; fi
}
# STATUS, and the texts in the case's outputs ($CASE.txt and .json, or the
# kinds in IN); a text that starts with ! must not be there.
expect() {  # name, status (- for any), texts...
  local name=$1 status=$2 bad="" text kind files=()
  shift 2
  for kind in ${IN:-txt json}; do files+=("$OUT_DIR/$CASE.$kind"); done
  [ "$status" = - ] || [ "$STATUS" -eq "$status" ] || bad+=" exit $STATUS, expected $status;"
  for text in "$@"; do
    if [ "${text:0:1}" = '!' ]; then grep -qF -- "${text:1}" "${files[@]}" 2> /dev/null && bad+=" \"${text:1}\" is there;"
    else grep -qF -- "$text" "${files[@]}" 2> /dev/null || bad+=" no \"$text\";"; fi
  done
  check "$name${bad:+:$bad}" test -z "$bad" || cat "${files[0]}"
}
finish() {  # what passed, where the outputs are
  [ $failures -eq 0 ] || { echo "$failures check(s) failed${2:+; $2}"; exit 1; }
  echo "$1${2:+; $2}"
}
need() {  # status when one is missing (77: skipped), programs...
  local p
  for p in "${@:2}"; do command -v "$p" > /dev/null || { echo "$([ "$1" = 77 ] && echo SKIP || echo FAIL): no $p"; exit "$1"; }; done
}

start() { "$@" & PIDS+=($!); }  # a program of the case, in the background
cleanup() {  # ends them, the last started first
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2> /dev/null; wait "${PIDS[i]}" 2> /dev/null; done
  PIDS=()
}
trap cleanup EXIT
sim() { start "$NATIVE/trivane-sim" "$@" >> "$OUT_DIR/$CASE.sim" 2>&1; }  # the native simulator

tool() {  # name, arguments...: the build's tool, natively with the case's settings, or under wine
  if [ "$MODE" != native ]; then $WINE "$WINDIR/$1.exe" "${@:2}"
  elif [ "$1" = trivane-sim ]; then "$NATIVE/$1" "${@:2}"
  else "$NATIVE/$1" --registry "$OUT_DIR/$CASE.reg" "${@:2}"; fi
}
winepath_of() { if [ "$MODE" = native ]; then echo "$1"; else echo "Z:${1//\//\\}"; fi; }
# The driver's settings: NAME=VALUE words (ip a text, the rest numbers) as
# the case's .reg file, which goes into the prefix's registry under wine.
settings() {
  local pair name
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER%s]\n' "${KEY#HKCU}" > "$OUT_DIR/$CASE.reg"
  for pair in "$@"; do
    name=${pair%%=*}
    if [ "$name" = ip ]; then printf '"ip"="%s"\n' "${pair#*=}"; else printf '"%s"=dword:%08x\n' "$name" "${pair#*=}"; fi
  done >> "$OUT_DIR/$CASE.reg"
  [ "$MODE" = native ] || { $WINE reg delete "$KEY" /f; $WINE reg import "$(winepath_of "$OUT_DIR/$CASE.reg")"; } > /dev/null 2>&1
}

in_netns() {  # commands, arguments...: runs the script again in a network namespace of its own
  [ -z "${PV_IN_NETNS:-}" ] || return 0
  [ "$(id -u)" -eq 0 ] || { echo "FAIL: $(basename "$0") needs root (a network namespace)"; exit 1; }
  local ns=pv$$ status
  ip netns add "$ns" || exit 1
  ip netns exec "$ns" sh -c "ip link set lo up; $1"
  PV_IN_NETNS=1 ip netns exec "$ns" "$0" "${@:2}"
  status=$?
  ip netns delete "$ns"
  exit $status
}
# A fresh wine prefix, WINE its wine: 32-bit where this machine runs 32-bit
# programs (a tiny one must end with status 7), else wine64.
fresh_wine() {  # prefix folder
  export WINEPREFIX=$1 WINEDEBUG=-all
  WINE=/usr/lib/wine/wine64
  printf '.globl _start\n_start: movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' | as --32 -o "$1.o" &&
    ld -m elf_i386 "$1.o" -o "$1.i386" 2> /dev/null
  "$1.i386" 2> /dev/null
  [ $? -ne 7 ] || WINE=/usr/lib/wine/wine
  $WINE wineboot -i > /dev/null 2>&1
  /usr/lib/wine/wineserver -w
}

# A virtual display (:BASE to :BASE+8) without a window manager: wine draws
# the frames, so that an X window is the whole window.
display() {  # base number, log file
  export DISPLAY=:$(($1 + RANDOM % 9))
  start Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp > "$2" 2>&1
  sleep 1
  $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f > /dev/null
}
window() {  # title pattern: the id of the first window with such a title, waited for up to 30 s
  local id="" _
  for _ in $(seq 1 60); do
    id=$(xwininfo -root -tree 2> /dev/null | grep -E "\"$1" | awk '{ print $1; exit }')
    [ -n "$id" ] && break || sleep 0.5
  done
  echo "$id"
}
press() { xdotool windowfocus --sync "$1" 2> /dev/null || xdotool windowfocus "$1"; sleep 0.3; xdotool key "$2"; }  # id, key
differ() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }  # pictures: how many pixels differ
