#!/bin/sh
# Takes a picture of tarvex.exe's window on the Xvfb display: starts the
# program with a script that keeps it open for a few seconds, waits for its
# first frame in the transcript, takes the picture with scrot, then checks
# that the scripted close ended the program with exit code 0 and that the
# transcript holds no misuse line.
#
#   screenshot.sh WINE_RUN TARVEX_EXE ARTIFACT_FOLDER
# writes ARTIFACT_FOLDER/tarvex-window.png (the window and a margin around it).
set -u
wine_run=$1
program=$2
artifacts=$3

fail() { echo "host_screenshot: $*" >&2; exit 1; }
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
command -v scrot >/dev/null || fail "scrot is not installed (scripts/install-deps)"

mkdir -p "$artifacts"
work=$(mktemp -d "$artifacts/screenshot.XXXXXX") || fail "no scratch folder"
trap 'rm -rf "$work"' EXIT
printf 'sleep 6000\nclose\n' >"$work/script.txt"
TARVEX_ENGINE_SCRIPT=$(windows_path "$work/script.txt")
TARVEX_ENGINE_TRANSCRIPT=$(windows_path "$work/transcript.txt")
TARVEX_STANDIN_DPI=96
export TARVEX_ENGINE_SCRIPT TARVEX_ENGINE_TRANSCRIPT TARVEX_STANDIN_DPI

TARVEX_WINE_TIMEOUT=120 "$wine_run" --display "$program" >"$work/output.txt" 2>&1 &
runner=$!

i=0
until grep -q '^frame 1 ' "$work/transcript.txt" 2>/dev/null; do
  i=$((i + 1))
  if [ $i -gt 600 ] || ! kill -0 $runner 2>/dev/null; then
    cat "$work/output.txt" "$work/transcript.txt" 2>/dev/null
    wait $runner
    fail "no first frame"
  fi
  sleep 0.1
done
# Let the window finish painting.
sleep 1
DISPLAY=":$(cat "$TARVEX_WINE_ROOT/wine/display")" scrot --overwrite --autoselect 0,0,1310,750 \
  "$artifacts/tarvex-window.png" || fail "scrot failed"

wait $runner
status=$?
cat "$work/transcript.txt"
[ $status -eq 0 ] || fail "tarvex.exe ended with $status"
grep -q '^misuse ' "$work/transcript.txt" && fail "misuse in the transcript"
grep -qx 'frame 1 hidden visible' "$work/transcript.txt" || fail "the window was not shown on the first frame"
[ -s "$artifacts/tarvex-window.png" ] || fail "no picture"
echo "host_screenshot: $artifacts/tarvex-window.png"
