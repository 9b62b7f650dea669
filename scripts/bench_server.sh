#!/usr/bin/env bash
# The height service under load on loopback, with wrk (8 connections, keep-alive, tiles loaded)
# over the 2 x 2 mosaic of 1,000,000-point tiles with a system set (EPSG:31467):
#   - /health and single-point GET /v1/mosaik?locations=... in the same run: requests/s and the
#     99th percentile latency, median of RUNS (at least 3) alternating runs;
#   - one POST of 10,000 points: time to the whole answer (curl, median of 7);
#   - POSTs of 10,000 points on 8 connections: points/s;
#   - the server's peak resident memory (VmHWM) after all of it, against --speicher + 128 MiB;
#   - the HTTP libraries on a trivial handler: cpp-httplib with its defaults, cpp-httplib set up
#     as the service is, and Boost.Beast.
# Usage: scripts/bench_server.sh [RUNS] [SECONDS]
# Build folder $BENCH_BUILD_DIR (default build-bench); tiles in $TERVALO_BENCH_DIR (default
# /tmp/tervalo-bench-cache), made on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
. scripts/bench_lib.sh
RUNS=${1:-3}
[ "$RUNS" -ge 3 ] || RUNS=3
DAUER=${2:-10}
BUILD=${BENCH_BUILD_DIR:-build-bench}
SPEICHER=512
export TERVALO_BENCH_DIR=${TERVALO_BENCH_DIR:-/tmp/tervalo-bench-cache}
DATA=$TERVALO_BENCH_DIR
WORK=$(mktemp -d /tmp/tervalo-bench-server-XXXXXX)
PIDS=()
aufraeumen() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap aufraeumen EXIT
trap 'exit 1' INT TERM

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_BENCH=ON -DTERVALO_TESTS=OFF -DTERVALO_UI=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tervalo-server bench-httplib-trivial bench-beast-trivial >/dev/null
for t in 0_0 1_0 0_1 1_1; do
  if [ ! -s "$DATA/tile_$t.xyz" ]; then
    cmake --build "$BUILD" -j2 --target tervalo-bench >/dev/null
    "$BUILD/bin/tervalo-bench" --benchmark_filter='BM_QueryMosaicCentre$' >/dev/null
    break
  fi
done
KNF=$WORK/mosaik.KNF
mosaic_knf "$KNF" "$DATA" .xyz
printf '[Kacheln]\nSystem=EPSG:31467\n' >"$WORK/mosaik.ini"

freier_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
warte() {  # URL
  for _ in $(seq 300); do curl -fs -o /dev/null "$1" && return 0; sleep 0.1; done
  echo "no answer from $1" >&2; exit 1
}

# Positions on the mosaic as WGS 84 (PROJ's cs2cs; Gauss-Krueger is northing first): a GET path
# each, and the body of a POST of 10,000 points.
python3 - "$WORK" <<'EOF'
import random, sys
w = sys.argv[1]
r = random.Random(27)
with open(f"{w}/gk.txt", "w") as f:
    for _ in range(10000):
        f.write(f"{5936000 + r.uniform(5, 1995):.3f} {3566000 + r.uniform(5, 1995):.3f}\n")
EOF
cs2cs -f %.7f EPSG:31467 EPSG:4326 <"$WORK/gk.txt" | awk '{ print $1 "," $2 }' >"$WORK/wgs84.txt"
python3 - "$WORK" <<'EOF'
import json, sys
w = sys.argv[1]
pos = [l.strip() for l in open(f"{w}/wgs84.txt") if l.strip()]
assert len(pos) == 10000
with open(f"{w}/get.lua", "w") as f:
    f.write("local p = {" + ",".join('"/v1/mosaik?locations=%s"' % q for q in pos[:512]) + "}\n")
    f.write("local i = 0\nrequest = function()\n  i = i % #p + 1\n  return wrk.format('GET', p[i])\nend\n")
with open(f"{w}/body.json", "w") as f:
    json.dump({"locations": "|".join(pos)}, f)
with open(f"{w}/post.lua", "w") as f:
    f.write("wrk.method = 'POST'\nwrk.headers['Content-Type'] = 'application/json'\n")
    f.write("local f = io.open('%s/body.json')\nwrk.body = f:read('*a')\nf:close()\n" % w)
EOF

# wrk's requests/s and 99th percentile (ms): wrkrun URL [SCRIPT]
wrkrun() {
  local skript=()
  [ -n "${2:-}" ] && skript=(-s "$2")
  wrk -t2 -c8 -d"${DAUER}s" --latency "${skript[@]}" "$1" >"$WORK/wrk.txt"
  python3 - "$WORK/wrk.txt" <<'EOF'
import re, sys
t = open(sys.argv[1]).read()
rps = float(re.search(r"Requests/sec:\s+([\d.]+)", t).group(1))
m = re.search(r"99%\s+([\d.]+)(us|ms|s)\b", t)
p99 = float(m.group(1)) * {"us": 1e-3, "ms": 1.0, "s": 1e3}[m.group(2)]
err = re.search(r"Non-2xx or 3xx responses: (\d+)", t)
if err:
    sys.exit("wrk: %s answers were not 2xx" % err.group(1))
print(f"{rps:.1f} {p99:.3f}")
EOF
}

PORT=$(freier_port)
BASIS=http://127.0.0.1:$PORT
"$BUILD/bin/tervalo-server" --katalog "mosaik=$KNF" --port "$PORT" --speicher "$SPEICHER" 2>"$WORK/server.log" &
SERVER=$!
PIDS+=("$SERVER")
warte "$BASIS/health"
# Tiles loaded before measuring: one point in each tile.
curl -fs -o /dev/null -H 'Content-Type: application/json' --data-binary @"$WORK/body.json" "$BASIS/v1/mosaik"
curl -fs -o /dev/null "$BASIS/v1/mosaik?locations=$(head -1 "$WORK/wgs84.txt")"

: >"$WORK/runs.txt"
for r in $(seq "$RUNS"); do
  h=$(wrkrun "$BASIS/health")
  g=$(wrkrun "$BASIS/" "$WORK/get.lua")
  echo "$h $g" >>"$WORK/runs.txt"
  echo "run $r: /health $h   GET $g   (requests/s, p99 ms)"
done

: >"$WORK/post.txt"
for _ in $(seq 7); do
  curl -fs -o /dev/null -w '%{time_total}\n' -H 'Content-Type: application/json' \
       --data-binary @"$WORK/body.json" "$BASIS/v1/mosaik" >>"$WORK/post.txt"
done
POSTS=$(wrkrun "$BASIS/v1/mosaik" "$WORK/post.lua")
RSS=$(awk '/VmHWM/ { print $2 }' "/proc/$SERVER/status")
kill -TERM "$SERVER"
wait "$SERVER" || { echo "tervalo-server did not end with 0" >&2; exit 1; }

# The libraries on a trivial handler, alternating, same wrk settings.
: >"$WORK/lib.txt"
P1=$(freier_port); "$BUILD/bin/bench-httplib-trivial" "$P1" defaults & PIDS+=($!)
P2=$(freier_port); "$BUILD/bin/bench-httplib-trivial" "$P2" tuned & PIDS+=($!)
P3=$(freier_port); "$BUILD/bin/bench-beast-trivial" "$P3" 2 & PIDS+=($!)
for p in "$P1" "$P2" "$P3"; do warte "http://127.0.0.1:$p/health"; done
for r in $(seq "$RUNS"); do
  echo "$(wrkrun "http://127.0.0.1:$P1/health") $(wrkrun "http://127.0.0.1:$P2/health") $(wrkrun "http://127.0.0.1:$P3/health")" >>"$WORK/lib.txt"
done

python3 - "$WORK" "$POSTS" "$RSS" "$SPEICHER" <<'EOF'
import statistics as st, sys
w, posts, rss, speicher = sys.argv[1], sys.argv[2].split(), int(sys.argv[3]), int(sys.argv[4])
runs = [list(map(float, l.split())) for l in open(f"{w}/runs.txt")]
med = lambda i: st.median(r[i] for r in runs)
h_rps, g_rps, g_p99 = med(0), med(2), med(3)
post = st.median(float(l) for l in open(f"{w}/post.txt")) * 1000
pps = float(posts[0]) * 10000
print("\nService over the 2 x 2 mosaic, median of %d runs:" % len(runs))
print(f"  /health                 {h_rps:10.0f} requests/s")
print(f"  GET one point           {g_rps:10.0f} requests/s  ({g_rps / h_rps:.2f} x /health; aim >= 0.6 and >= 15000)")
print(f"  GET one point p99       {g_p99:10.3f} ms  (aim <= 5)")
print(f"  POST 10,000 points      {post:10.1f} ms  (one request, median of 7; aim <= 100)")
print(f"  POSTs on 8 connections  {pps:10.0f} points/s  (aim >= 300000; p99 {float(posts[1]):.1f} ms)")
print(f"  peak RSS                {rss / 1024:10.1f} MiB  (aim <= {speicher + 128} MiB)")
lib = [list(map(float, l.split())) for l in open(f"{w}/lib.txt")]
m = lambda i: st.median(r[i] for r in lib)
print("\nTrivial handler, 8 connections, median of %d runs:" % len(lib))
print(f"  cpp-httplib defaults    {m(0):10.0f} requests/s  p99 {m(1):.3f} ms")
print(f"  cpp-httplib tuned       {m(2):10.0f} requests/s  p99 {m(3):.3f} ms")
print(f"  Boost.Beast (2 threads) {m(4):10.0f} requests/s  p99 {m(5):.3f} ms")
EOF
