#!/usr/bin/env bash
# TCP both ways between the Windows programs (under wine) and the Linux ones: the Windows
# command line against a Linux korvane-sim (as its client, and as the server the simulator
# connects to), and the Linux command line against the Windows korvane-sim.exe. Each pair
# identifies, reads the 68-byte record with its CRC, writes all 256 byte values and reads them
# back; frames are checked byte by byte against the --trace transcripts kept in
# WINDOWS_BUILD/tcp_cross/.
# Usage: tcp_cross.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
LINUX_BUILD=$(cd "${1:?Linux build folder}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build folder}" && pwd)
. "$(dirname "$0")/wine_env.sh"
wine_prefix_ready

WORK=$WINDOWS_BUILD/tcp_cross
rm -rf "$WORK"
mkdir -p "$WORK"
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  return 0
}
trap cleanup EXIT
fail() {
  echo "tcp_cross: $*" >&2
  exit 1
}
expect_equal() { [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"; }

LOW=$(hex_range 0 127)
HIGH=$(hex_range 128 255)

# The checks of one pair; $1 names the pair, the rest is the command line to run with
# "--trace COMMAND ARGS" appended.
exchange() {
  local pair=$1 dir=$WORK/$1
  shift
  mkdir -p "$dir"
  run() {
    local name=$1
    shift
    (cd "$dir" && "${CLI[@]}" --trace "$@" >"$dir/$name.out" 2>"$dir/$name.trace") ||
      fail "$pair: $name: $(cat "$dir/$name.trace")"
  }
  CLI=("$@")
  run identify identify
  expect_equal "$pair identify" "$(cat "$dir/identify.out")" "TRK controller v3.1"
  expect_equal "$pair identify frames" "$(trace_bytes "$dir/identify.trace" ">>")" \
    "60 01 21 ba 60 01 00 f8 31"
  expect_equal "$pair identify replies" "$(trace_bytes "$dir/identify.trace" "<<")" \
    "01 23 03 7d 54 52 4b 20 63 6f 6e 74 72 6f 6c 6c 65 72 20 76 33 2e 31 00"
  run read68 read 0 0x3101 68 --check 2
  expect_equal "$pair CRC read request" "$(trace_bytes "$dir/read68.trace" ">>")" \
    "60 01 48 68 02 00 31 00 01 00 44 58"
  [ "$(wc -w <"$dir/read68.out")" = 68 ] || fail "$pair CRC read gave $(cat "$dir/read68.out")"
  [ "$(trace_bytes "$dir/read68.trace" "<<" | wc -w)" = 73 ] || fail "$pair CRC read reply"
  run write_low write 0 0x5000 "$LOW"
  run write_high write 0 0x5080 "$HIGH"
  run read_low read 0 0x5000 128 --check 2
  run read_high read 0 0x5080 128 --check 2
  expect_equal "$pair bytes 00..7f back" "$(cat "$dir/read_low.out")" "$(spaced "$LOW")"
  expect_equal "$pair bytes 80..ff back" "$(cat "$dir/read_high.out")" "$(spaced "$HIGH")"
  echo "$pair: identify, 68-byte CRC read, 256 byte values written and read back"
}

start_sim() {
  local log=$1
  shift
  "$@" >"$log.out" 2>"$log.err" &
  SIM_PID=$!
  wait_line "$log.out" 10 "^korvane-sim: " || fail "the simulator did not start: $(cat "$log.err")"
}
stop_sim() {
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=
}
listen_port() { sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$1.out" | head -1; }

# Windows command line, Linux simulator listening.
start_sim "$WORK/linux_sim" "$LINUX_BUILD/korvane-sim" --listen 127.0.0.1:0 --board 1
exchange windows_cli_to_linux_sim wine "$WINDOWS_BUILD/korvane-cli.exe" \
  --port "TCPC_127.0.0.1:$(listen_port "$WORK/linux_sim")"
stop_sim

# Windows command line as the server, Linux simulator connecting to it (at a port a listener
# of the Linux simulator found free a moment before).
start_sim "$WORK/free_port" "$LINUX_BUILD/korvane-sim" --listen 127.0.0.1:0
port=$(listen_port "$WORK/free_port")
stop_sim
start_sim "$WORK/linux_sim_connect" "$LINUX_BUILD/korvane-sim" --connect "127.0.0.1:$port" --board 1
exchange windows_server_linux_sim wine "$WINDOWS_BUILD/korvane-cli.exe" --port "TCPS_$port"
stop_sim

# Linux command line, Windows simulator listening.
start_sim "$WORK/windows_sim" wine "$WINDOWS_BUILD/korvane-sim.exe" --listen 127.0.0.1:0 --board 1
exchange linux_cli_to_windows_sim "$LINUX_BUILD/korvane-cli" \
  --port "TCPC_127.0.0.1:$(listen_port "$WORK/windows_sim")"
stop_sim
