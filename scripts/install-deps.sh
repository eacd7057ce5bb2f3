#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
set -euo pipefail
PKGS="cmake g++ make pkg-config libfltk1.3-dev libx11-dev libcjson-dev gettext libgtest-dev libgmock-dev
      libbenchmark-dev xvfb xauth x11-apps x11-utils xdotool imagemagick fonts-dejavu-core
      clang libclang-rt-14-dev clang-format valgrind help2man lintian desktop-file-utils"
# The Windows build (mingw-w64, GoogleTest from its sources), its tests under wine, its
# installer (NSIS), ccache, which keeps rebuilding FLTK for Windows cheap, and curl, which
# checks that the archives can be downloaded when no folder of them is at hand.
PKGS="$PKGS g++-mingw-w64-x86-64-posix googletest wine wine64 nsis ccache curl"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
