#!/usr/bin/env bash
# Runs one fuzz harness for a given time: fuzz/run-long.sh TARGET SECONDS [libFuzzer options]
# TARGET is the name without "fuzz_" (transact, settings_json, ...). New inputs go to
# <build>/fuzz/corpus/TARGET; the committed seeds in fuzz/corpus/TARGET are only read.
# The build folder is $KORVANE_FUZZ_BUILD, else build-fuzz beside this script's folder.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
src=$(cd "$(dirname "$0")/.." && pwd)
build=${KORVANE_FUZZ_BUILD:-$src/build-fuzz}
exe=$build/fuzz/fuzz_$target
if [ ! -x "$exe" ]; then
  echo "$exe not built: CC=clang CXX=clang++ cmake -S $src -B $build -DKORVANE_FUZZ=ON -DKORVANE_GUI=OFF -DKORVANE_TESTS=OFF && cmake --build $build --target fuzz_$target" >&2
  exit 2
fi
work=$build/fuzz/corpus/$target
crashes=$build/fuzz/crashes/$target
mkdir -p "$work" "$crashes"
seeds=$src/fuzz/corpus/$target
[ -d "$seeds" ] || seeds=
# Harnesses that open files work in a scratch folder of their own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$crashes/" "$@" "$work" ${seeds:+"$seeds"}
