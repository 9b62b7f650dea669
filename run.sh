#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, creates the demo
# terrain when no configuration exists, and runs the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
BIN="$BUILD/bin"
"$BIN/tervalo-cli" konf
