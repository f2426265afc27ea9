#!/bin/sh
# Takes a picture of tarvex.exe's window on the Xvfb display once its first
# frame is drawn, for people to look at; the program then closes itself.
#   screenshot.sh WINE_RUN TARVEX_EXE ARTIFACT_FOLDER  (writes tarvex-window.png)
set -u
mkdir -p "$3" && work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
printf 'sleep 6000\nclose\n' >"$work/script.txt"
export TARVEX_ENGINE_SCRIPT="Z:$work/script.txt" TARVEX_ENGINE_TRANSCRIPT="Z:$work/transcript.txt" \
  TARVEX_STANDIN_DPI=96
TARVEX_WINE_TIMEOUT=120 "$1" --display "$2" >"$work/output.txt" 2>&1 &
until grep -q '^frame 1 ' "$work/transcript.txt" 2>/dev/null; do
  kill -0 $! 2>/dev/null || { cat "$work"/*.txt; exit 1; }
  sleep 0.1
done
sleep 1 # lets the window finish painting
DISPLAY=":$(cat "$TARVEX_WINE_ROOT/wine/display")" scrot --overwrite --autoselect 0,0,1310,750 \
  "$3/tarvex-window.png" && wait $!
