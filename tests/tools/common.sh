# Sourced by the field tools' tests. The caller sets NATIVE (the native
# build folder), MODE (native, wine32 or wine64) and OUT_DIR; CASE names the
# case whose files go to OUT_DIR.
WINE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-run $MODE"
KEY='HKCU\Software\Orvell Stagecraft\Trivane - Previsa Protocol Driver\Settings'
failures=0
PIDS=()

cleanup() {  # ends the case's background programs
  [ ${#PIDS[@]} -gt 0 ] && kill "${PIDS[@]}" 2> /dev/null
  wait 2> /dev/null
  PIDS=()
}
trap cleanup EXIT

sim() {  # simulator arguments; its output in $OUT_DIR/$CASE.sim
  "$NATIVE/trivane-sim" "$@" >> "$OUT_DIR/$CASE.sim" 2>&1 &
  PIDS+=($!)
}

# The driver's settings for the case: NAME=VALUE words (ip text, the rest
# numbers), as a .reg file (native) or in the wine prefix's registry.
settings() {
  local pair name value
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER%s]\n' "${KEY#HKCU}" > "$OUT_DIR/$CASE.reg"
  [ "$MODE" != native ] && $WINE reg delete 'HKCU\Software\Orvell Stagecraft' /f > /dev/null 2>&1
  for pair in "$@"; do
    name=${pair%%=*} value=${pair#*=}
    if [ "$name" = ip ]; then
      printf '"ip"="%s"\n' "$value" >> "$OUT_DIR/$CASE.reg"
      [ "$MODE" != native ] && $WINE reg add "$KEY" /v ip /t REG_SZ /d "$value" /f > /dev/null
    else
      printf '"%s"=dword:%08x\n' "$name" "$value" >> "$OUT_DIR/$CASE.reg"
      [ "$MODE" != native ] && $WINE reg add "$KEY" /v "$name" /t REG_DWORD /d "$value" /f > /dev/null
    fi
  done
}

# Runs a field tool of the build under test: natively with the case's
# settings file, or the Windows build under wine (whose settings are in the
# prefix's registry; paths given to it as Z:\...).
tool() {  # name, arguments...
  local name=$1
  shift
  if [ "$MODE" = native ]; then
    "$NATIVE/$name" "$@"
  else
    $WINE "$WINDIR/$name.exe" "$@"
  fi
}
winepath_of() { if [ "$MODE" = native ]; then echo "$1"; else echo "Z:${1//\//\\}"; fi; }

check() {  # name, condition (a command)...
  local name=$1
  shift
  if "$@"; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
}
