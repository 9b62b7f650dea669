#!/usr/bin/env bash
# The cost of writing through the safe writer: the code before it (commit 567910b) against the
# current commit, both built Release in git worktrees outside the repository, their tervalo-cli
# timed alternately on the same data: the export of the 2 x 2 mosaic (4,008,004 points read)
# to XYZ and to dBase, and the conversion of one tile (1,002,001 points) both ways. Prints the
# median of RUNS runs each (at least 5) in points/s, the new code with and without the time its
# fsync calls took (timed with strace), and before that tervalo-bench's figures of the sync
# (BM_CommitOutput: Commit of a file of the export's size with and without the sync;
# BM_ExportMosaicSync: the whole export both ways, in process).
# Usage: scripts/bench_safe_write.sh [RUNS]
# Worktrees: $BENCH_OLD_TREE (default /tmp/tervalo-old), $BENCH_NEW_TREE (/tmp/tervalo-new);
# tiles in $TERVALO_BENCH_DIR (default /tmp/tervalo-bench-cache), made on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
. scripts/bench_lib.sh
RUNS=${1:-5}
[ "$RUNS" -ge 5 ] || RUNS=5
OLD_REV=567910b
NEW_REV=$(git rev-parse HEAD)
OLD=${BENCH_OLD_TREE:-/tmp/tervalo-old}
NEW=${BENCH_NEW_TREE:-/tmp/tervalo-new}
export TERVALO_BENCH_DIR=${TERVALO_BENCH_DIR:-/tmp/tervalo-bench-cache}
DATA=$TERVALO_BENCH_DIR
WORK=$(mktemp -d /tmp/tervalo-bench-run-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

build() {  # folder bench(ON/OFF) targets...
  local src=$1 bench=$2
  shift 2
  cmake -S "$src" -B "$src/build-release" -DCMAKE_BUILD_TYPE=Release -DTERVALO_UI=OFF \
        -DTERVALO_TESTS=OFF -DTERVALO_BENCH="$bench" >/dev/null
  cmake --build "$src/build-release" -j2 --target "$@" >/dev/null
}

echo "Building $OLD_REV in $OLD and $NEW_REV in $NEW (Release) ..."
worktree "$OLD_REV" "$OLD"
worktree "$NEW_REV" "$NEW"
build "$OLD" OFF tervalo-cli
build "$NEW" ON tervalo-cli tervalo-bench
OLD_CLI=$OLD/build-release/bin/tervalo-cli
NEW_CLI=$NEW/build-release/bin/tervalo-cli

# In-process figures of the sync; this also makes the tiles the CLI runs read.
echo "tervalo-bench (new code):"
"$NEW/build-release/bin/tervalo-bench" --benchmark_filter='BM_CommitOutput|BM_ExportMosaicSync|BM_ConvertTile' \
  --benchmark_min_time=1 2>&1 | grep -E '^(BM_|-|Benchmark)' | tee "$WORK/bench.txt"

# The catalogue of the four mosaic tiles.
KNF=$WORK/tervalo.KNF
mosaic_knf "$KNF" "$DATA" .xyz
for t in tile_0_0 tile_1_0 tile_0_1 tile_1_1 tile_0_0_l3; do
  f=$DATA/$t.xyz
  [ "$t" = tile_0_0_l3 ] && f=$DATA/$t.dbf
  [ -s "$f" ] || { echo "missing $f" >&2; exit 1; }
done

# case name, points read, arguments (OUT stands for the output path)
CASES=(
  "export-xyz|4008004|export 3566000 3568000 5936000 5938000 OUT --format xyz --konf $KNF"
  "export-dbf|4008004|export 3566000 3568000 5936000 5938000 OUT --format dbf --level 3 --konf $KNF"
  "convert-xyz-to-dbf|1002001|convert $DATA/tile_0_0.xyz OUT --level 3"
  "convert-dbf-to-xyz|1002001|convert $DATA/tile_0_0_l3.dbf OUT --format xyz"
)
# Runs a command; prints its wall time and the time it spent in fsync, in nanoseconds. strace
# stops the program at fsync only (seccomp filter), so the other calls run at full speed.
timed() {
  local t0 t1
  sync
  t0=$(date +%s%N)
  strace -f -qq --seccomp-bpf -e trace=fsync,fdatasync -T -o "$WORK/strace.txt" "$@" >/dev/null
  t1=$(date +%s%N)
  echo "$((t1 - t0)) $(grep -o '<[0-9.]*>$' "$WORK/strace.txt" | tr -d '<>' |
                       awk '{ s += $1 } END { printf "%d", s * 1e9 }')"
}

: >"$WORK/times.txt"
for c in "${CASES[@]}"; do
  IFS='|' read -r name points args <<<"$c"
  out=$WORK/out.${name##*-}
  for r in $(seq "$RUNS"); do
    for which in old new; do
      cli=$OLD_CLI
      [ "$which" = new ] && cli=$NEW_CLI
      rm -f "$out"
      # shellcheck disable=SC2086
      t=$(timed "$cli" ${args//OUT/$out})
      echo "$name $which $points $t" >>"$WORK/times.txt"
    done
  done
done

echo
echo "tervalo-cli, median of $RUNS alternating runs; the new code's fsync (file and folder) timed"
echo "separately; points/s of the new code without and with it:"
python3 - "$WORK/times.txt" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
names = []
for n, *_ in rows:
    if n not in names:
        names.append(n)
def med(n, w, f):
    return statistics.median(f(r) for r in rows if r[0] == n and r[1] == w)
print(f"{'case':20} {'old s':>7} {'new s':>7} {'sync s':>7} {'old pts/s':>11} {'new-sync':>11} {'new':>11}"
      f" {'ratio':>6}")
for n in names:
    pts = int(next(r[2] for r in rows if r[0] == n))
    old = med(n, "old", lambda r: int(r[3]) / 1e9)
    new = med(n, "new", lambda r: int(r[3]) / 1e9)
    sync = med(n, "new", lambda r: int(r[4]) / 1e9)
    rest = med(n, "new", lambda r: (int(r[3]) - int(r[4])) / 1e9)
    print(f"{n:20} {old:7.3f} {new:7.3f} {sync:7.3f} {pts / old:11,.0f} {pts / rest:11,.0f} {pts / new:11,.0f}"
          f" {old / rest:6.3f}")
print("ratio: old time / new time without the sync (1.0 = equal, below 0.9 = more than 10 % slower)")
EOF
