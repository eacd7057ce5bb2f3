#!/usr/bin/env bash
# Runs every GUI test executable (and with --unit every unit test) under valgrind's memcheck
# on a private X server, prints one line per executable and exits non-zero on any memory
# error, any definite leak outside tests/valgrind.supp, or any failed test.
#
#   scripts/valgrind-gui.sh [--unit] [--no-build] [NAME...]
#     --unit      also run tests/unit executables
#     --no-build  use what build-valgrind already holds
#     NAME...     only these executables (e.g. main_window_test)
# Logs: build-valgrind/valgrind/<name>.log (valgrind) and <name>.out (the test's output).
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build-valgrind
SUPP=$ROOT/tests/valgrind.supp
LOGS=$BUILD/valgrind
# One executable may take this long under valgrind before it counts as hung.
EXE_TIMEOUT_S=${VALGRIND_EXE_TIMEOUT_S:-1800}
# Origins of uninitialised values on request only: it slows the run enough to upset the GUI
# tests that wait a fixed time for a timer (VALGRIND_TRACK_ORIGINS=1 to turn it on).
TRACK_ORIGINS=no; [ "${VALGRIND_TRACK_ORIGINS:-0}" = 1 ] && TRACK_ORIGINS=yes

with_unit=0
build=1
only=()
for a in "$@"; do
  case "$a" in
    --unit) with_unit=1 ;;
    --no-build) build=0 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "unknown option $a" >&2; exit 2 ;;
    *) only+=("$a") ;;
  esac
done

need=""
command -v valgrind >/dev/null 2>&1 || need="$need valgrind"
command -v xvfb-run >/dev/null 2>&1 || need="$need xvfb xauth"
if [ -n "$need" ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
fi

names_in() { local f; for f in "$ROOT"/tests/"$1"/*_test.cpp; do [ -e "$f" ] && basename "$f" .cpp; done; }
exes=()
if [ ${#only[@]} -gt 0 ]; then
  exes=("${only[@]}")
else
  mapfile -t exes < <(names_in gui)
  [ $with_unit = 1 ] && mapfile -t -O ${#exes[@]} exes < <(names_in unit)
fi
if [ ${#exes[@]} -eq 0 ]; then echo "no test executables found" >&2; exit 2; fi

if [ $build = 1 ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_GUI=ON >/dev/null || exit 1
  # The GUI tests drive the simulator and compare with the command line.
  cmake --build "$BUILD" --target "${exes[@]}" korvane-sim korvane-cli catalog -j "$(nproc)" \
    > "$BUILD/valgrind-build.log" 2>&1 || { tail -40 "$BUILD/valgrind-build.log"; echo "build failed" >&2; exit 1; }
fi
mkdir -p "$LOGS"

# Sums the numbers of one gtest closing line ("[  PASSED  ] 6 tests.") or prints 0.
gtest_count() { grep -h "^\[  $1 *\] [0-9]* test" "$2" | head -1 | sed 's/^[^]]*\] \([0-9]*\).*/\1/' | grep . || echo 0; }

failed=0
total_tests=0 total_failed=0
printf '%-28s %6s %6s %7s %9s %7s  %s\n' executable tests failed skipped "def.leaks" errors result
for name in "${exes[@]}"; do
  exe=$BUILD/tests/$name
  log=$LOGS/$name.log out=$LOGS/$name.out
  if [ ! -x "$exe" ]; then
    printf '%-28s %6s %6s %7s %9s %7s  %s\n' "$name" - - - - - "NOT BUILT"; failed=1; continue
  fi
  rm -f "$log" "$out"
  # Tests resolve helper programs and catalogs from the build tree, as under CTest.
  (cd "$BUILD/tests" && timeout "$EXE_TIMEOUT_S" xvfb-run -a -s "-screen 0 1280x1024x24" \
     valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
       --suppressions="$SUPP" --num-callers=40 --track-origins=$TRACK_ORIGINS \
       --log-file="$log" "$exe" >"$out" 2>&1)
  rc=$?
  ran=$(grep -h '^\[==========\] [0-9]* tests\? from .* ran' "$out" | sed 's/^\[==========\] \([0-9]*\).*/\1/')
  ran=${ran:-0}
  nfail=$(gtest_count FAILED "$out")
  nskip=$(gtest_count SKIPPED "$out")
  leaks=$(grep -h 'definitely lost:' "$log" 2>/dev/null | sed 's/.*in \([0-9,]*\) blocks.*/\1/' | tr -d , | head -1)
  leaks=${leaks:-0}
  errs=$(grep -h 'ERROR SUMMARY:' "$log" 2>/dev/null | sed 's/.*SUMMARY: \([0-9,]*\) errors.*/\1/' | tr -d , | head -1)
  errs=${errs:--}
  result=ok
  if [ $rc = 124 ]; then result="TIMEOUT"
  elif [ "$errs" = - ]; then result="NO VALGRIND SUMMARY (rc $rc)"
  elif [ "$nfail" != 0 ]; then result="TESTS FAILED"
  elif [ "$errs" != 0 ]; then result="MEMCHECK ERRORS"
  elif [ $rc != 0 ]; then result="EXIT $rc"
  elif [ "$ran" = 0 ]; then result="NO TESTS RAN"
  fi
  [ "$result" = ok ] || failed=1
  total_tests=$((total_tests + ran)); total_failed=$((total_failed + nfail))
  printf '%-28s %6s %6s %7s %9s %7s  %s\n' "$name" "$ran" "$nfail" "$nskip" "$leaks" "$errs" "$result"
  [ "$result" = ok ] || echo "    see $log and $out"
done

echo "valgrind: $((total_tests - total_failed)) passed, $total_failed failed"
if [ $failed != 0 ]; then echo "memcheck run FAILED" >&2; exit 1; fi
echo "memcheck run clean"
