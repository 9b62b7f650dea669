#!/usr/bin/env bash
# Builds the Release configuration with benchmarks (build-bench) and runs tervalo-bench.
# Extra arguments go to Google Benchmark, e.g. scripts/bench.sh --benchmark_filter=Text
# The generated tiles are cached in $TERVALO_BENCH_DIR (default /tmp/tervalo-bench-cache).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
BUILD=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_BENCH=ON -DTERVALO_TESTS=OFF \
      -DTERVALO_UI=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tervalo-bench
"$BUILD/bin/tervalo-bench" --benchmark_min_time=1 "$@"
