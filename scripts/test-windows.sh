#!/usr/bin/env bash
# The Windows build and its tests under wine: builds everything for Windows
# (scripts/build-windows.sh), then runs under wine the unit and integration tests that apply
# to Windows, the serial line through a COM port mapped to a Linux simulator's pseudo-terminal,
# TCP both ways with the Linux programs, the GUI on Xvfb and the installer. The wine prefix is
# made in build-windows/wineprefix. Needs a Linux build of this tree (default: build/).
# Usage: scripts/test-windows.sh [LINUX_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
LINUX_BUILD=${1:-build}
[ -x "$LINUX_BUILD/korvane-sim" ] ||
  { echo "test-windows: no Linux build in $LINUX_BUILD (its korvane-sim is needed)" >&2; exit 1; }
rc=0
bash scripts/build-windows.sh --linux-build "$LINUX_BUILD" || rc=$?
if [ "$rc" -eq 3 ]; then
  echo "== SKIPPED: the Windows build and its wine tests (no FLTK and cJSON archives here and" \
    "no network to download them; give their folder with KORVANE_THIRD_PARTY_DIR)"
  exit 0
fi
[ "$rc" -eq 0 ] || exit "$rc"
# A fresh wine session, and one Xvfb for every wine program of the run: the session's desktop
# process stays on the display it first met (see tests/windows/wine_env.sh).
PREFIX=$(pwd)/build-windows/wineprefix
end_session() { [ -d "$PREFIX" ] && WINEPREFIX=$PREFIX wineserver -k 2>/dev/null || true; }
trap end_session EXIT
end_session
# The session's server and background programs keep the standard error of the program that
# started them, and print to it until the session ends; started here, they write to a log of
# their own instead of into the output of whichever test came first (a --trace transcript).
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  bash tests/windows/wine_prefix.sh build-windows >/dev/null
  export WINEPREFIX=$(pwd)/build-windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p 2>build-windows/wine-session.log
  wine cmd /c exit >/dev/null 2>>build-windows/wine-session.log </dev/null
  KORVANE_WINE_DISPLAY=$DISPLAY ctest --test-dir build-windows --output-on-failure -j "$(nproc)"'
