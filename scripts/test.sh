#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the normal and the sanitizer
# configuration, and runs every test of both under CTest. Each window test starts an Xvfb of
# its own (tests/support/gui_display.cpp), so no test's window can cover another's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
JOBS=$(nproc)

run_config() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

echo "== normal build"
run_config build
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0 \
  run_config build-asan -DKORVANE_SANITIZE=ON

echo "== Windows build (mingw-w64) and its tests under wine"
bash scripts/test-windows.sh build

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
