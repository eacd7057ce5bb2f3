#!/usr/bin/env bash
# Makes the wine prefix of the Windows tests in the build folder (the fixture every test run
# under wine needs first). Usage: wine_prefix.sh WINDOWS_BUILD
set -euo pipefail
WINDOWS_BUILD=$(cd "${1:?Windows build folder}" && pwd)
. "$(dirname "$0")/wine_env.sh"
wine_prefix_ready
echo "wine prefix ready: $WINEPREFIX ($(wine --version))"
