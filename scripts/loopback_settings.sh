# Sourced by the scripts that run the simulator and the test host together.
# write_loopback_settings FILE [LINE ...]: the driver's settings for console
# 1 on 127.0.0.1 as a .reg file, with any further value lines added.
write_loopback_settings() {
  local file=$1
  shift
  {
    printf 'Windows Registry Editor Version 5.00\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Orvell Stagecraft\\Trivane - Previsa Protocol Driver\\Settings]\n'
    printf '"ip"="127.0.0.1"\n"Trivane1"=dword:00000001\n'
    local line
    for line in "$@"; do printf '%s\n' "$line"; done
  } > "$file"
}
