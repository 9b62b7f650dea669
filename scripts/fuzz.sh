#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz) and runs each one for SECONDS.
#   scripts/fuzz.sh SECONDS [NAME...]      e.g. scripts/fuzz.sh 300 pointline konf
# Each target reads fuzz/corpus/<name> and puts new inputs into build-fuzz/work/<name>, so the
# checked-in corpus stays small. Crash files land in build-fuzz/work/<name>/; after fixing the
# fault, copy the reproducer into fuzz/corpus/<name>/ so the test build replays it for good.
# One fuzzer at a time, one job each: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh fuzz
SECONDS_EACH=${1:?usage: scripts/fuzz.sh SECONDS [NAME...]}
shift
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}

if [ $# -gt 0 ]; then
  NAMES=("$@")
else
  NAMES=()
  for f in fuzz/fuzz_*.cpp; do n=$(basename "$f" .cpp); NAMES+=("${n#fuzz_}"); done
fi

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DTERVALO_FUZZ=ON -DTERVALO_TESTS=OFF -DTERVALO_UI=OFF -DTERVALO_SANITIZE=OFF >/dev/null
TARGETS=()
for n in "${NAMES[@]}"; do TARGETS+=("fuzz-$n"); done
cmake --build "$BUILD" -j2 --target "${TARGETS[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for n in "${NAMES[@]}"; do
  work="$BUILD/work/$n"
  mkdir -p "$work" "fuzz/corpus/$n"
  echo "== fuzz-$n for ${SECONDS_EACH}s"
  if ! "$BUILD/bin/fuzz-$n" "$work" "fuzz/corpus/$n" -max_total_time="$SECONDS_EACH" \
        -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/" -print_final_stats=1 2>"$work/log.txt"; then
    echo "fuzz-$n found a fault; see $work/log.txt and the crash-* file there"
    status=1
  fi
  tail -n 12 "$work/log.txt" | grep -E 'stat::|Done|ERROR|SUMMARY' || true
done
exit $status
