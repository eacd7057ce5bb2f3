#!/usr/bin/env bash
# The real serial path of the Windows build: korvane-cli.exe under wine opens COM7, which wine
# maps to the pseudo-terminal of a Linux korvane-sim (--pty; $WINEPREFIX/dosdevices/com7 links
# to the pty's slave). At 9600 and 38400 baud: identify, a 68-byte CRC read (compared with what
# the Linux command line reads from the same board), a write of all 256 byte values and their
# read-back, and a firmware update whose image (every byte value) must reach the board whole.
# Frames are checked byte by byte against the transcript of --trace, which stays in
# WINDOWS_BUILD/com_over_pty/<baud>/.
# Usage: com_over_pty.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
LINUX_BUILD=$(cd "${1:?Linux build folder}" && pwd)
WINDOWS_BUILD=$(cd "${2:?Windows build folder}" && pwd)
. "$(dirname "$0")/wine_env.sh"
wine_prefix_ready

WORK=$WINDOWS_BUILD/com_over_pty
COM=com7
rm -rf "$WORK"
mkdir -p "$WORK"
SIM_PID=
cleanup() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  rm -f "$WINEPREFIX/dosdevices/$COM"
}
trap cleanup EXIT
fail() {
  echo "com_over_pty: $*" >&2
  exit 1
}
expect_equal() { [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"; }

IDENTIFY_SENT="60 01 21 ba 60 01 00 f8 31"
IDENTIFY_RECEIVED="01 23 03 7d 54 52 4b 20 63 6f 6e 74 72 6f 6c 6c 65 72 20 76 33 2e 31 00"
READ68_SENT="60 01 48 68 02 00 31 00 01 00 44 58"
LOW=$(hex_range 0 127)
HIGH=$(hex_range 128 255)
IMAGE_RECORDS=8

for baud in 9600 38400; do
  dir=$WORK/$baud
  mkdir -p "$dir"
  "$LINUX_BUILD/korvane-sim" --pty "$dir/pty" --board 1 --baud "$baud" --verbose \
    --image-out "$dir/received.bin" >"$dir/sim.out" 2>"$dir/sim.err" &
  SIM_PID=$!
  wait_line "$dir/sim.out" 5 "^korvane-sim: pty" || fail "the simulator did not start"
  ln -sfn "$(readlink "$dir/pty")" "$WINEPREFIX/dosdevices/$COM"
  # korvane-cli.exe on COM7 at the line rate; stdout to $dir/$1.out, the trace to $dir/$1.trace.
  cli() {
    local name=$1
    shift
    local status=0
    (cd "$dir" && wine "$WINDOWS_BUILD/korvane-cli.exe" --port COM7 --baud "$baud" --trace "$@" \
      >"$dir/$name.out" 2>"$dir/$name.trace") || status=$?
    [ $status = 0 ] || echo "exit status $status" >>"$dir/$name.trace"
    return $status
  }

  cli identify identify || fail "identify at $baud: $(cat "$dir/identify.trace")"
  expect_equal "identify at $baud" "$(cat "$dir/identify.out")" "TRK controller v3.1"
  expect_equal "identify frames sent at $baud" "$(trace_bytes "$dir/identify.trace" ">>")" "$IDENTIFY_SENT"
  expect_equal "identify replies at $baud" "$(trace_bytes "$dir/identify.trace" "<<")" "$IDENTIFY_RECEIVED"

  cli read68 read 0 0x3101 68 --check 2 || fail "CRC read at $baud"
  expect_equal "CRC read request at $baud" "$(trace_bytes "$dir/read68.trace" ">>")" "$READ68_SENT"
  data=$(cat "$dir/read68.out")
  [ "$(echo "$data" | wc -w)" = 68 ] || fail "CRC read at $baud gave [$data]"
  received=$(trace_bytes "$dir/read68.trace" "<<")
  [ "$(echo "$received" | wc -w)" = 73 ] || fail "CRC read reply at $baud is not 73 bytes: $received"
  [ "${received#"$data"}" != "$received" ] || fail "the reply at $baud does not begin with the data"
  # The Linux command line reads the same record from the same board over the same line.
  linux=$("$LINUX_BUILD/korvane-cli" --port "$dir/pty" --baud "$baud" read 0 0x3101 68 --check 2)
  expect_equal "CRC read at $baud, Windows against Linux" "$data" "$linux"

  cli write_low write 0 0x5000 "$LOW" || fail "write at $baud"
  cli write_high write 0 0x5080 "$HIGH" || fail "write at $baud"
  expect_equal "write result at $baud" "$(cat "$dir/write_low.out" "$dir/write_high.out")" \
    "Write result=1
Write result=1"
  # The first data byte travels in the command frame, the rest follow it in one piece.
  case "$(trace_bytes "$dir/write_low.trace" ">>")" in
    *"$(spaced "$(hex_range 1 127)")"*) ;;
    *) fail "the write frame at $baud lacks its bytes" ;;
  esac
  cli read_low read 0 0x5000 128 --check 2 || fail "read-back at $baud"
  cli read_high read 0 0x5080 128 --check 2 || fail "read-back at $baud"
  expect_equal "bytes 00..7f back at $baud" "$(cat "$dir/read_low.out")" "$(spaced "$LOW")"
  expect_equal "bytes 80..ff back at $baud" "$(cat "$dir/read_high.out")" "$(spaced "$HIGH")"

  make_image "$dir/image.bin" "$IMAGE_RECORDS"
  cli firmware firmware image.bin --max-baud 0 ||
    fail "firmware at $baud: $(cat "$dir/firmware.out" "$dir/firmware.trace")"
  grep -q "^OK$" "$dir/firmware.out" || fail "firmware at $baud did not finish: $(cat "$dir/firmware.out")"
  for _ in $(seq 60); do
    [ -f "$dir/received.bin" ] && [ "$(stat -c %s "$dir/received.bin")" = "$((IMAGE_RECORDS * 272))" ] && break
    sleep 0.05
  done
  cmp "$dir/image.bin" "$dir/received.bin" || fail "the image at $baud did not arrive whole"

  kill "$SIM_PID"
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=
  echo "COM7 at $baud baud: identify, 68-byte CRC read, 256 byte values written and read back," \
    "$((IMAGE_RECORDS * 272))-byte firmware image: all bytes unchanged"
done
