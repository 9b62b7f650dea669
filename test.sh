#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (warnings as errors,
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
BUILD=${BUILD_DIR:-build-test}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DTERVALO_WERROR=ON -DTERVALO_SANITIZE=ON \
      -DTERVALO_TESTS=ON -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$BUILD" && ctest --output-on-failure -j"$(nproc)"
