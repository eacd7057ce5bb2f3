#!/usr/bin/env bash
# korvane_v3.exe under wine on Xvfb: it starts in a folder holding only its
# preferences (the Russian catalog comes from beside the .exe), answers the address prompt,
# opens the TCP port of a Linux korvane-sim and identifies the board there. The main window
# is saved as a PNG (WINDOWS_BUILD/gui_smoke/main_ru.png, or the path given third).
# Usage: gui_smoke.sh LINUX_BUILD WINDOWS_BUILD [SCREENSHOT]
set -euo pipefail
LINUX_BUILD=$(cd "${1:?Linux build folder}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build folder}" && pwd)
. "$(dirname "$0")/wine_env.sh"
WORK=$WINDOWS_BUILD/gui_smoke
SHOT=${3:-$WORK/main_ru.png}
MAP_TIMEOUT_S=60  # the first window of a fresh wine session takes a while
SETTLE_S=4        # identification and the settings read after the main window maps

for tool in Xvfb xdotool xdpyinfo import; do
  command -v "$tool" >/dev/null || { echo "gui_smoke: $tool is missing" >&2; exit 1; }
done
wine_prefix_ready
rm -rf "$WORK"
mkdir -p "$WORK/run"
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null
  return 0
}
trap cleanup EXIT
fail() {
  # What the screen showed, when there is a screen, to see why.
  [ -n "${DISPLAY:-}" ] && import -window root "$WORK/failure.png" 2>/dev/null
  echo "gui_smoke: $*" >&2
  exit 1
}

use_display

"$LINUX_BUILD/korvane-sim" --listen 127.0.0.1:0 --board 1 --verbose >"$WORK/sim.out" 2>"$WORK/sim.err" &
PIDS+=($!)
wait_line "$WORK/sim.out" 5 listening || fail "the simulator did not start"
tcp=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$WORK/sim.out")
echo "TCPC_127.0.0.1:$tcp 4800 8 N 1 38400" >"$WORK/run/korvane_v3.ini"
[ -f "$WINDOWS_BUILD/ru/korvane_v3.mo" ] || fail "no catalog beside the program"

wait_windows() {
  local end=$((SECONDS + MAP_TIMEOUT_S))
  while [ "$(windows "$1" | wc -l)" -lt "$2" ]; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}

cd "$WORK/run"
wine "$WINDOWS_BUILD/korvane_v3.exe" >"$WORK/app.out" 2>"$WORK/app.err" &
pid=$!
PIDS+=($pid)
wait_windows $pid 1 || fail "no window appeared"
prompt=$(windows $pid | tail -1)
# The prompt offers 1; it is typed anew all the same, as an engineer would.
xdotool windowfocus --sync "$prompt" 2>/dev/null || true
xdotool key --window "$prompt" ctrl+a 2>/dev/null || true
xdotool type --window "$prompt" --delay 50 1 2>/dev/null || true
xdotool key --window "$prompt" Return 2>/dev/null || true
# The prompt goes, the main window comes.
end=$((SECONDS + MAP_TIMEOUT_S))
main=
while [ $SECONDS -lt $end ]; do
  main=$(largest_window $pid)
  [ -n "$main" ] && [ "$main" != "$prompt" ] && break
  sleep 0.1
done
[ -n "$main" ] && [ "$main" != "$prompt" ] || fail "the main window did not appear after the prompt"
sleep "$SETTLE_S"
title=$(xdotool getwindowname "$main" 2>/dev/null || true)
echo "main window: \"$title\""

# The board was identified: its identification and text requests reached the simulator.
grep -q "rx 60 01 21 BA" "$WORK/sim.err" || fail "no identification reached the simulator"
grep -q "tx 54 52 4B 20 63 6F 6E 74 72 6F 6C 6C 65 72" "$WORK/sim.err" ||
  fail "the board's text identifier was not asked for"
grep -q "TRK controller v3.1" "$WORK/app.out" && echo "log: $(grep -m1 'TRK controller' "$WORK/app.out")"
mkdir -p "$(dirname "$SHOT")"
import -window "$main" "$SHOT"
echo "screenshot: $SHOT"
