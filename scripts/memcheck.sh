#!/usr/bin/env bash
# Peak memory (maximum resident set size, /usr/bin/time -v) of `tervalo-cli scan`, `query` and
# `batch` over a text file without a single line break, in a Release build (sanitizer builds
# hold extra memory). Fails when a run needs more than the limit.
#   scripts/memcheck.sh [SIZE]      SIZE for truncate, default 2G
#   MEMCHECK_BUILD_DIR              build folder (default build-memcheck)
#   MEMCHECK_LIMIT_MB               limit per run (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
BUILD=${MEMCHECK_BUILD_DIR:-build-memcheck}
SIZE=${1:-2G}
LIMIT_MB=${MEMCHECK_LIMIT_MB:-300}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_TESTS=OFF -DTERVALO_UI=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tervalo-cli >/dev/null
CLI="$BUILD/bin/tervalo-cli"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FILE="$WORK/ohne_umbruch.xyz"
truncate -s "$SIZE" "$FILE"   # sparse: costs no disk space, reads as one line of NUL bytes

# A catalogue holding only that file, its extent around the query point.
{
    printf 'VERSION   memcheck\r\n'
    printf '  1.0 ; Standard-Rasterabstand der Rohdaten [m]\r\n'
    printf ' 50.0 ; zu betrachtende Breite um den Messpunkt [m]\r\n'
    printf '2.0 ; Potenz\r\n'
    printf '4 ; dBase Export-Version\r\n'
    printf '\r\n\r\n[DATEIEN]\r\n#DATEI 1\r\n%s\r\n' "$FILE"
    printf '   -100.00 ; Xmin\r\n    100.00 ; Xmax\r\n   -100.00 ; Ymin\r\n    100.00 ; Ymax\r\n'
} >"$WORK/memcheck.KNF"
printf '0 0\n' >"$WORK/punkte.txt"

echo "File: $(stat -c %s "$FILE") bytes without a line break; limit ${LIMIT_MB} MB per run"
status=0
measure() {
    local name=$1
    shift
    local start end rc=0
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" || rc=$?
    end=$(date +%s.%N)
    local kb
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time.txt")
    awk -v n="$name" -v rc="$rc" -v kb="$kb" -v t0="$start" -v t1="$end" \
        'BEGIN { printf "%-6s exit %d  max RSS %7.1f MB  %6.1f s\n", n, rc, kb / 1024, t1 - t0 }'
    if [ "$rc" -ne 0 ]; then
        cat "$WORK/err.txt"
        status=1
    fi
    if [ "$kb" -gt $((LIMIT_MB * 1024)) ]; then
        echo "  over the limit of ${LIMIT_MB} MB"
        status=1
    fi
}
measure scan "$CLI" scan "$FILE"
measure query "$CLI" query 0 0 --konf "$WORK/memcheck.KNF"
grep -q '^1 .* 1 ' "$WORK/out.txt" || { echo "  query did not count the file's one line"; cat "$WORK/out.txt"; status=1; }
measure batch "$CLI" batch "$WORK/punkte.txt" --konf "$WORK/memcheck.KNF"
exit $status
