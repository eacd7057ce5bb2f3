#!/usr/bin/env bash
# Runs korvane_v3 in ./demo against the board simulator: two simulated boards behind a TCP
# port on 127.0.0.1, the preferences file naming that port, and the Russian catalog beside
# the program. The simulator is stopped when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${KORVANE_BUILD_DIR:-$ROOT/build}
DEMO=$ROOT/demo
SIM_START_WAIT_S=5

for bin in korvane_v3 korvane-sim; do
  [ -x "$BUILD/$bin" ] || { echo "missing $BUILD/$bin: build first (bash scripts/run.sh)" >&2; exit 1; }
done

mkdir -p "$DEMO/ru"
[ -f "$BUILD/ru/korvane_v3.mo" ] && ln -sf "$BUILD/ru/korvane_v3.mo" "$DEMO/ru/korvane_v3.mo"

# A free TCP port on the loopback interface.
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null || echo 47321)

# Two boards: side A at address 1 (volume meters), a mass-meter board at address 2.
"$BUILD/korvane-sim" --listen "127.0.0.1:$PORT" --board 1 --board '2:$' >"$DEMO/sim.log" 2>&1 &
SIM_PID=$!
cleanup() { kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; }
trap cleanup EXIT INT TERM

# Wait until the simulator accepts connections.
for _ in $(seq 1 $((SIM_START_WAIT_S * 10))); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then break; fi
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$DEMO/sim.log" >&2; exit 1; }
  sleep 0.1
done

# Port name, baud, data bits, parity, stop bits, maximum baud rate.
echo "TCPC_127.0.0.1:$PORT 19200 8 N 1 38400" >"$DEMO/korvane_v3.ini"
echo "Simulator on 127.0.0.1:$PORT (boards 1 and 2); starting korvane_v3 in $DEMO"
cd "$DEMO"
"$BUILD/korvane_v3" "$@"
