#!/usr/bin/env bash
# Builds the tool and starts it. With no port given it runs in a demo folder against the
# board simulator (two simulated boards), so it works without hardware.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
exec bash scripts/demo.sh "$@"
