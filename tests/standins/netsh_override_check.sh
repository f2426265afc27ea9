#!/bin/sh
# Runs the prefix's netsh.exe through cmake/wine-run without and with
# WINEDLLOVERRIDES=netsh.exe=n: only the second may reach the stand-in.
# Wine takes a child's overrides from the environment it was started in, not
# from the Windows environment block of its parent, so this runs from here.
#
#   netsh_override_check.sh <wine-run> <build folder>
set -u
wine_run=$1
export TARVEX_WINE_ROOT=$2
record="$TARVEX_WINE_ROOT/wine/prefix/drive_c/windows/system32/netsh-standin.log"
size() { if [ -f "$record" ]; then wc -c <"$record"; else echo 0; fi; }

before=$(size)
unset WINEDLLOVERRIDES
"$wine_run" 'C:\windows\system32\netsh.exe' advfirewall show allprofiles >/dev/null 2>&1
if [ "$(size)" != "$before" ]; then
  printf "without the override the stand-in ran: %s\n" "$(tail -1 "$record")"
  exit 1
fi

WINEDLLOVERRIDES=netsh.exe=n "$wine_run" 'C:\windows\system32\netsh.exe' override check || exit 1
last=$(tail -1 "$record" | tr -d '\r')
case "$last" in
  *' "C:\windows\system32\netsh.exe" override check') printf "the stand-in ran: %s\n" "$last" ;;
  *) printf "with the override the stand-in did not run; last record line: %s\n" "$last"; exit 1 ;;
esac
