#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the normal and the sanitizer
# configuration, and runs every test of both under CTest (GUI tests under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)

run_config() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  # One X server for the GUI tests of this configuration.
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

echo "== normal build"
run_config build
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0 \
  run_config build-asan -DKORVANE_SANITIZE=ON

# ==== fuzzing (reliability): every libFuzzer harness for a short, bounded run ====
if command -v clang++ >/dev/null 2>&1; then
  echo "== fuzz build (clang, libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVANE_FUZZ=ON -DKORVANE_GUI=OFF -DKORVANE_TESTS=OFF >/dev/null
  cmake --build build-fuzz --target fuzz_all -j "$JOBS"
  ctest --test-dir build-fuzz -L fuzz --output-on-failure
else
  echo "== fuzz step skipped: clang++ not installed"
fi
