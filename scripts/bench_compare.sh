#!/usr/bin/env bash
# Old code against new code in one run: builds tervalo-bench of two revisions (Release, in git
# worktrees outside the repository) and runs every benchmark of both alternately, REPS
# repetitions each, then prints the medians side by side with the ratio new/old and the spread.
# Usage: scripts/bench_compare.sh OLD_REV [NEW_REV] [REPS] [FILTER]
# Tiles come from $TERVALO_BENCH_DIR (default /tmp/tervalo-bench-cache), made on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
. scripts/bench_lib.sh
OLD_REV=$(git rev-parse "${1:?old revision}")
NEW_REV=$(git rev-parse "${2:-HEAD}")
REPS=${3:-5}
[ "$REPS" -ge 5 ] || REPS=5
FILTER=${4:-.}
OLD=${BENCH_OLD_TREE:-/tmp/tervalo-old}
NEW=${BENCH_NEW_TREE:-/tmp/tervalo-new}
export TERVALO_BENCH_DIR=${TERVALO_BENCH_DIR:-/tmp/tervalo-bench-cache}
WORK=$(mktemp -d /tmp/tervalo-bench-cmp-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

build() {  # folder
  cmake -S "$1" -B "$1/build-release" -DCMAKE_BUILD_TYPE=Release -DTERVALO_UI=OFF \
        -DTERVALO_TESTS=OFF -DTERVALO_BENCH=ON >/dev/null
  cmake --build "$1/build-release" -j2 --target tervalo-bench >/dev/null
}
echo "Building ${OLD_REV:0:7} in $OLD and ${NEW_REV:0:7} in $NEW (Release) ..."
worktree "$OLD_REV" "$OLD"
worktree "$NEW_REV" "$NEW"
build "$OLD"
build "$NEW"

# The benchmarks both programs know, each run old then new, REPS times over.
"$NEW/build-release/bin/tervalo-bench" --benchmark_list_tests --benchmark_filter="$FILTER" >"$WORK/new.txt"
"$OLD/build-release/bin/tervalo-bench" --benchmark_list_tests --benchmark_filter="$FILTER" >"$WORK/old.txt"
grep -Fxf "$WORK/old.txt" "$WORK/new.txt" >"$WORK/both.txt" || true
for r in $(seq "$REPS"); do
  while read -r name; do
    for which in old new; do
      tree=$OLD
      [ "$which" = new ] && tree=$NEW
      re="^$(printf '%s' "$name" | sed 's/[][\.*^$]/\\&/g')\$"
      "$tree/build-release/bin/tervalo-bench" --benchmark_filter="$re" --benchmark_format=json \
        2>/dev/null >"$WORK/$which.$r.$(echo "$name" | tr '/:' '__').json"
    done
  done <"$WORK/both.txt"
done

python3 - "$WORK" <<'PY'
import glob, json, os, statistics, sys
work = sys.argv[1]
times = {}
units = {}
for f in glob.glob(os.path.join(work, "*.json")):
    which = os.path.basename(f).split(".")[0]
    for b in json.load(open(f)).get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        times.setdefault(b["name"], {}).setdefault(which, []).append(b["real_time"])
        units[b["name"]] = b.get("time_unit", "")
# Spread: the range of a side's runs over its median, the larger of the two sides. A change
# counts as worse when new/old exceeds 1 + max(10 %, twice the spread).
def spread(v):
    m = statistics.median(v)
    return (max(v) - min(v)) / m if m else 0.0
print(f"{'benchmark':48} {'old':>10} {'new':>10} {'unit':>4} {'new/old':>8} {'spread':>7}  verdict")
worse = 0
for name in sorted(times):
    t = times[name]
    if "old" not in t or "new" not in t:
        continue
    o, n = statistics.median(t["old"]), statistics.median(t["new"])
    sp = max(spread(t["old"]), spread(t["new"]))
    limit = 1 + max(0.10, 2 * sp)
    verdict = "WORSE" if n / o > limit else "ok"
    worse += verdict == "WORSE"
    print(f"{name:48} {o:10.2f} {n:10.2f} {units[name]:>4} {n / o:8.3f} {sp:7.3f}  {verdict}")
print(f"medians of {min(len(v) for t in times.values() for v in t.values())} runs each; "
      f"{worse} benchmark(s) worse than max(10 %, 2 x spread)")
PY
