#!/usr/bin/env bash
# Builds korvane_v3.exe, korvane-cli.exe, korvane-sim.exe and their installer
# (korvane-v3-<version>-win64.exe) for 64-bit Windows with mingw-w64, in build-windows/.
# FLTK and cJSON are built from their release archives: from the folder given with
# --third-party (or in KORVANE_THIRD_PARTY_DIR), else from ../shared/third_party beside this
# tree (or beside the tree it was cloned from) when it is there, else downloaded; their SHA256
# must match the pinned ones either way. Status 3: no archives and no way to download them.
# Usage: scripts/build-windows.sh [--third-party DIR] [--build-dir DIR] [--linux-build DIR]
#   --linux-build DIR  a Linux build of this tree: adds the tests that make the Windows
#                      programs meet the Linux ones (scripts/test-windows.sh passes it)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-windows
THIRD_PARTY=${KORVANE_THIRD_PARTY_DIR:-}
LINUX_BUILD=
while [ $# -gt 0 ]; do
  case "$1" in
    --third-party) THIRD_PARTY=$(cd "${2:?folder}" && pwd); shift 2 ;;
    --build-dir) BUILD=${2:?folder}; shift 2 ;;
    --linux-build) LINUX_BUILD=$(cd "${2:?folder}" && pwd); shift 2 ;;
    *) echo "usage: $0 [--third-party DIR] [--build-dir DIR] [--linux-build DIR]" >&2; exit 2 ;;
  esac
done
# Without a folder given: "shared/third_party" beside this tree, else beside the tree this one
# was cloned from (a clean clone made for a test run finds the same copy).
archives_beside() { [ -f "$1/shared/third_party/SHA256SUMS" ] && (cd "$1/shared/third_party" && pwd); }
if [ -z "$THIRD_PARTY" ]; then
  THIRD_PARTY=$(archives_beside ..) || THIRD_PARTY=
fi
if [ -z "$THIRD_PARTY" ]; then
  origin=$(git remote get-url origin 2>/dev/null) || origin=
  origin=${origin#file://}
  if [ -n "$origin" ] && [ -d "$origin" ]; then
    THIRD_PARTY=$(archives_beside "$origin/..") || THIRD_PARTY=
  fi
fi
# Nothing here and nothing to download from: say so and end with status 3, which
# scripts/test-windows.sh reports as a skipped Windows part (the build cannot start at all).
if [ -z "$THIRD_PARTY" ]; then
  fltk_url=$(sed -n 's|^ *\(https://[^ )]*fltk-[^ )]*\.tar\.gz\).*|\1|p' cmake/third_party/versions.cmake)
  if ! curl -sfIL --max-time 20 "$fltk_url" >/dev/null 2>&1; then
    echo "build-windows: no folder of the FLTK and cJSON archives (--third-party DIR," \
      "KORVANE_THIRD_PARTY_DIR or ../shared/third_party), and $fltk_url cannot be reached" >&2
    exit 3
  fi
fi
for tool in x86_64-w64-mingw32-g++-posix makensis; do
  command -v "$tool" >/dev/null ||
    { echo "build-windows: $tool is missing (bash scripts/install-deps.sh installs it)" >&2; exit 1; }
done

args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release)
[ -n "$THIRD_PARTY" ] && args+=(-DKORVANE_THIRD_PARTY_DIR="$THIRD_PARTY")
[ -n "$LINUX_BUILD" ] && args+=(-DKORVANE_LINUX_BUILD_DIR="$LINUX_BUILD")
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" "${args[@]}" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
(cd "$BUILD" && cpack -G NSIS >/dev/null)
echo "Windows programs and installer in $BUILD:"
(cd "$BUILD" && ls -l korvane_v3.exe korvane-cli.exe korvane-sim.exe korvane-v3-*-win64.exe)
