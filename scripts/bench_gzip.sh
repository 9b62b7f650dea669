#!/usr/bin/env bash
# Packed tiles: one height query at the centre of the 2 x 2 mosaic of 1,000,000-point tiles
# packed with `gzip -6`, against `zcat tile*.gz | wc -l` on the same four files, timed
# alternately in one run (median of RUNS, at least 5). Prints both times, their ratio (the aim:
# the query takes at most half of zcat | wc -l) and MB/s of unpacked text; before that
# tervalo-bench's in-process figures (the same query, and igzip / zlib / libdeflate inflating
# one tile), and after it GDAL's time for one tile through /vsigzip/ when GDAL is there.
# Usage: scripts/bench_gzip.sh [RUNS]
# Build folder $BENCH_BUILD_DIR (default build-bench); tiles in $TERVALO_BENCH_DIR (default
# /tmp/tervalo-bench-cache), made and packed on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
. scripts/bench_lib.sh
RUNS=${1:-7}
[ "$RUNS" -ge 5 ] || RUNS=5
BUILD=${BENCH_BUILD_DIR:-build-bench}
export TERVALO_BENCH_DIR=${TERVALO_BENCH_DIR:-/tmp/tervalo-bench-cache}
DATA=$TERVALO_BENCH_DIR
WORK=$(mktemp -d /tmp/tervalo-bench-gzip-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_BENCH=ON -DTERVALO_TESTS=OFF -DTERVALO_UI=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tervalo-bench tervalo-cli >/dev/null

# The in-process figures; this also makes the tiles and packs them (tile_C_R.xyz.gz).
"$BUILD/bin/tervalo-bench" --benchmark_filter='BM_QueryPackedMosaicCentre|BM_InflateTile' 2>&1 |
  grep -E '^(BM_|-|Benchmark)'

TILES=()
for t in 0_0 1_0 0_1 1_1; do
  f=$DATA/tile_$t.xyz.gz
  [ -s "$f" ] || { echo "missing $f" >&2; exit 1; }
  TILES+=("$f")
done
TEXT_BYTES=$(for t in 0_0 1_0 0_1 1_1; do stat -c %s "$DATA/tile_$t.xyz"; done | awk '{ s += $1 } END { print s }')

# The catalogue of the four packed tiles.
KNF=$WORK/tervalo.KNF
mosaic_knf "$KNF" "$DATA" .xyz.gz
CLI=$BUILD/bin/tervalo-cli
"$CLI" query 3567000.3 5937000.4 --konf "$KNF" >"$WORK/query.txt" || { cat "$WORK/query.txt"; exit 1; }

ns() { date +%s%N; }
: >"$WORK/times.txt"
for r in $(seq "$RUNS"); do
  t0=$(ns); zcat "${TILES[@]}" | wc -l >/dev/null; t1=$(ns)
  "$CLI" query 3567000.3 5937000.4 --konf "$KNF" >/dev/null; t2=$(ns)
  echo "$((t1 - t0)) $((t2 - t1))" >>"$WORK/times.txt"
done

echo
echo "Query at the mosaic centre over 4 packed tiles ($TEXT_BYTES bytes of text), median of $RUNS alternating runs:"
python3 - "$WORK/times.txt" "$TEXT_BYTES" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
text = int(sys.argv[2])
zcat = statistics.median(int(r[0]) for r in rows) / 1e9
query = statistics.median(int(r[1]) for r in rows) / 1e9
print(f"  zcat tile*.gz | wc -l  {zcat:7.3f} s  {text / zcat / 1e6:8.0f} MB/s of text")
print(f"  tervalo-cli query      {query:7.3f} s  {text / query / 1e6:8.0f} MB/s of text")
print(f"  ratio query / zcat     {query / zcat:7.3f}   (aim: at most 0.5)")
EOF

# The peer: GDAL's XYZ driver answering the same point from one packed tile through /vsigzip/.
if command -v gdallocationinfo >/dev/null; then
  t0=$(ns)
  if gdallocationinfo -valonly -geoloc "/vsigzip/${TILES[3]}" 3567000 5937000 >"$WORK/gdal.txt" 2>&1; then
    t1=$(ns)
    echo "  GDAL gdallocationinfo, one tile via /vsigzip/: $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') s" \
         "(height $(tr -d '\n' <"$WORK/gdal.txt"))"
  fi
fi
