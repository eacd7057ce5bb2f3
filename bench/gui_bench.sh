#!/usr/bin/env bash
# Start-up time, resident memory and idle CPU of korvane_v3 under a private Xvfb, driven with
# xdotool the way an engineer answers the start-up dialogs. Prints RESULT lines for bench/run.
# Usage: bench/gui_bench.sh BUILD_DIR [startup runs] [idle seconds]
set -u
BUILD=$(cd "${1:?build dir}" && pwd)
RUNS=${2:-5}
IDLE_S=${3:-30}
APP="$BUILD/korvane_v3"
SIM="$BUILD/korvane-sim"
CLK_TCK=$(getconf CLK_TCK)
MAP_TIMEOUT_S=10      # a window that has not mapped by then counts as a failed start
SETTLE_S=3            # identification and the settings read after the main window maps
# The first tab's header inside the main window; a click there gives the tab set the keyboard,
# and four presses of Right then bring up "Load" whatever width the other labels have.
FIRST_TAB_X=20
FIRST_TAB_Y=46

for tool in Xvfb xdotool xev; do
  command -v "$tool" >/dev/null || { echo "gui_bench: $tool is missing (apt-get install xvfb xdotool x11-utils)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/korvane-guibench-XXXXXX)
PIDS=()
cleanup() {
  local p
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# A display number nobody uses.
for n in $(seq 70 130); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { DISP=$n; break; }
done
Xvfb ":$DISP" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISP"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

# Every top-level window mapped (maps.log) and unmapped (unmaps.log) on the display, one
# line each with the time it was seen. A dialog's unmap marks the moment the program took
# the answer, so xdotool's own start-up time is not counted as the program's.
stdbuf -oL xev -root -event substructure 2>/dev/null |
  while IFS= read -r line; do
    case "$line" in
      MapNotify*) echo "$EPOCHREALTIME" >>"$WORK/maps.log" ;;
      UnmapNotify*) echo "$EPOCHREALTIME" >>"$WORK/unmaps.log" ;;
    esac
  done &
PIDS+=($!)
sleep 0.3

: >"$WORK/maps.log"
: >"$WORK/unmaps.log"
maps() { wc -l <"$WORK/maps.log"; }
unmaps() { wc -l <"$WORK/unmaps.log"; }
unmap_time() { sed -n "$1p" "$WORK/unmaps.log"; }
# Waits until the map count exceeds $1; prints the time of that map.
wait_map() {
  local want=$(($1 + 1)) end=$((SECONDS + MAP_TIMEOUT_S))
  while [ "$(maps)" -lt "$want" ]; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.005
  done
  sed -n "${want}p" "$WORK/maps.log"
}
# Presses Return in the program's window in front (its dialog).
answer() {
  local w
  w=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | tail -1)
  [ -n "$w" ] || return 1
  xdotool windowfocus --sync "$w" key Return
}
ms_between() { echo "$1 $2" | awk '{printf "%.1f", ($2 - $1) * 1000}'; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# "tid switches" for every thread.
switches() {
  local t
  for t in /proc/"$1"/task/*; do
    echo "${t##*/} $(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status")"
  done
}
# The most wake-ups a second of any one thread between two switches() snapshots.
max_wakes_per_s() {
  awk -v s="$3" 'NR==FNR {a[$1]=$2; next} {d=$2-a[$1]; if (d>m) m=d} END {printf "%.1f", m/s}' "$1" "$2"
}

# ---- start-up with no port to open: address prompt, "Cannot open serial port", main window ----
mkdir -p "$WORK/start/ru"
cp "$BUILD/ru/korvane_v3.mo" "$WORK/start/ru/"
STARTS=()
RSS=0
for run in $(seq "$RUNS"); do
  cd "$WORK/start" || exit 1
  rm -f korvane_v3.ini
  before=$(maps)
  ubefore=$(unmaps)
  t0=$EPOCHREALTIME
  "$APP" >/dev/null 2>&1 &
  pid=$!
  ok=1
  t1=$(wait_map "$before") || ok=0
  [ $ok = 1 ] && { answer $pid; t2=$(wait_map $((before + 1))) || ok=0; }
  [ $ok = 1 ] && { answer $pid; t3=$(wait_map $((before + 2))) || ok=0; }
  if [ $ok = 1 ]; then
    a1=$(unmap_time $((ubefore + 1)))
    a2=$(unmap_time $((ubefore + 2)))
    # Only the program's own time: from exec to the prompt, and from each answer to the next window.
    total=$(echo "$t0 $t1 $a1 $t2 $a2 $t3" | awk '{printf "%.1f", (($2-$1) + ($4-$3) + ($6-$5)) * 1000}')
    STARTS+=("$total")
    echo "start-up run $run: to the prompt $(ms_between "$t0" "$t1") ms, after it $(ms_between "$a1" "$t2") ms, after the alert $(ms_between "$a2" "$t3") ms: $total ms"
    sleep 1
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    [ "$rss" -gt "$RSS" ] && RSS=$rss
  else
    echo "start-up run $run: a window did not appear" >&2
  fi
  kill $pid 2>/dev/null
  wait $pid 2>/dev/null
done
if [ ${#STARTS[@]} -gt 0 ]; then
  median=$(printf '%s\n' "${STARTS[@]}" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
  echo "RESULT label=startup runs=${#STARTS[@]} median_ms=$median"
  echo "RESULT label=startup_rss rss_kb=$RSS"
fi

# ---- idle with a port open: "Main" tab, then "Load" monitoring a simulated board ----
mkdir -p "$WORK/idle/ru"
cp "$BUILD/ru/korvane_v3.mo" "$WORK/idle/ru/"
cd "$WORK/idle" || exit 1
"$SIM" --listen 127.0.0.1:0 --board 1 >"$WORK/sim.out" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do grep -q listening "$WORK/sim.out" && break; sleep 0.05; done
tcp=$(sed -n 's/.*listening on .*:\([0-9]*\).*/\1/p' "$WORK/sim.out" | head -1)
[ -n "$tcp" ] || { echo "gui_bench: the simulator did not start" >&2; exit 1; }
echo "TCPC_127.0.0.1:$tcp 4800 8 N 1 38400" >korvane_v3.ini
before=$(maps)
"$APP" >"$WORK/app.out" 2>&1 &
pid=$!
PIDS+=($pid)
wait_map "$before" >/dev/null && answer $pid && wait_map $((before + 1)) >/dev/null || {
  echo "gui_bench: the main window did not appear with the simulator" >&2
  exit 1
}
sleep "$SETTLE_S"
grep -q "TRK controller" "$WORK/app.out" || echo "gui_bench: the board was not identified" >&2

measure_idle() {
  local label=$1 c0 c1
  switches $pid >"$WORK/sw0"
  c0=$(cpu_ticks $pid)
  sleep "$IDLE_S"
  c1=$(cpu_ticks $pid)
  switches $pid >"$WORK/sw1"
  local cpu_ms=$(((c1 - c0) * 1000 / CLK_TCK))
  echo "RESULT label=$label seconds=$IDLE_S cpu_ms=$cpu_ms threads=$(wc -l <"$WORK/sw1") max_thread_wakes_per_s=$(max_wakes_per_s "$WORK/sw0" "$WORK/sw1" "$IDLE_S")"
}
measure_idle idle_main

win=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | tail -1)
xdotool mousemove --window "$win" $FIRST_TAB_X $FIRST_TAB_Y click 1
sleep 0.5
xdotool key --delay 300 Right Right Right Right
sleep "$SETTLE_S"
[ -n "${GUI_BENCH_SHOT:-}" ] && xwd -root -silent | convert xwd:- "$GUI_BENCH_SHOT"
measure_idle idle_load
