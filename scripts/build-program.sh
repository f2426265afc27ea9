# Sourced by scripts/run-demo and scripts/soak: builds what a run of tarvex.exe
# under Wine needs (the windows preset's tarvex and the wireguard.exe and netsh
# stand-ins), printing the progress, with the build's output in
# build/<tool>-build.log.
#
#   build_program <tool>
#
# One such tool at a time in this folder: two would build over each other and
# clear each other's Wine state. The lock (file descriptor 8) lasts until the
# sourcing script ends, and the Python half it execs inherits it; nothing
# started from here keeps it open.
build_program() {
  tool=$1
  mkdir -p build
  exec 8>build/run-demo.lock
  flock -n 8 || { echo "$tool: another run-demo or soak is running in this folder"; exit 1; }
  log=build/$tool-build.log
  echo "building the Windows program (windows preset; output in $log)"
  cmake --preset windows >"$log" 2>&1 8>&- || { tail -30 "$log"; echo "$tool: configuring failed (see $log)"; exit 1; }
  # The build runs in the background (for the progress lines) and in a session
  # of its own; a background job of a script ignores Ctrl-C, so an interrupt
  # here stops it explicitly rather than leaving it to race the next run.
  setsid --wait cmake --build --preset windows -j2 --target tarvex wireguard_standin netsh_standin >>"$log" 2>&1 8>&- &
  builder=$!
  trap 'kill -TERM -- "-$builder" 2>/dev/null; wait "$builder" 2>/dev/null || true; echo; echo "$tool: interrupted, the build stopped"; exit 130' INT TERM
  shown=""
  while kill -0 "$builder" 2>/dev/null; do
    sleep 3
    progress=$(grep -o '^\[ *[0-9]*%\]' "$log" | tail -1 | tr -d '[]% ')
    # Make reports each target's share again from its start: only progress counts.
    if [ -n "$progress" ] && [ "$progress" -gt "${shown:-0}" ]; then
      echo "  building... $progress%"
      shown=$progress
    fi
  done
  if ! wait "$builder"; then
    tail -30 "$log"
    echo "$tool: the build failed (see $log)"
    exit 1
  fi
  trap - INT TERM
  echo "  built"
}
