#!/usr/bin/env bash
# Writes pictures of the desktop program's windows into FOLDER (default screenshots/):
# hauptfenster.png, hauptfenster-raster.png, hauptfenster-wgs84.png, info.png, kurzmeldung.png, fortschritt.png,
# optionen.png, optionen-ohne-admin.png, dateimanager.png, dateimanager-menue.png, dbf-info.png,
# the export window, and the height profile across the demo's valley: profil.png (the window,
# mouse over the valley's bottom), profil-gespeichert.png and .svg (the saved files) and
# profil-gespeichert-svg.png (the SVG as a viewer draws it). Builds what it needs in the Release build folder "build", creates the
# demo terrain when no catalogue exists yet, and runs the windows under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh screenshots
ROOT=$(pwd)
OUT=${1:-screenshots}
case "$OUT" in /*) ;; *) OUT="$ROOT/$OUT" ;; esac
BUILD=${BUILD_DIR:-build}
# The demo coordinate run.sh prints: where the demo tiles overlap.
DEMO_X=3567002.5
DEMO_Y=5936002.5
# The same point in WGS 84 (cs2cs -d 8 EPSG:31467 EPSG:4326), for the picture of a GPS position.
DEMO_BREITE=53.55122754
DEMO_LAENGE=10.00986995

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target tervalo tervalo-demo tervalo-screenshots tervalo-admin-screenshots

BIN="$BUILD/bin"
if [ ! -f "$BIN/tervalo.KNF" ]; then
  (cd "$BIN" && ./tervalo-demo)
fi

mkdir -p "$OUT"
# German numbers and Qt texts whatever the caller's locale.
export LANG=de_DE.UTF-8 LC_ALL=
run() {
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$@"
  fi
}
run "$BIN/tervalo-screenshots" "$OUT" "$BIN/tervalo.KNF" "$DEMO_X" "$DEMO_Y" "$DEMO_BREITE" "$DEMO_LAENGE"
run "$BIN/tervalo-admin-screenshots" "$OUT" "$BIN/tervalo.KNF"
# With ORDNER=<folder of tiles> (and ORDNER_X, ORDNER_Y, a point inside it): the file manager
# adding the folder (dateimanager-ordner.png), the index window (fortschritt-index.png) and a
# query over the folder entry (hauptfenster-ordner.png), on a catalogue of its own.
if [ -n "${ORDNER:-}" ]; then
  KAT=$(mktemp -d)
  printf 'VERSION   1.2b\r\n 5.0\r\n 50.0\r\n2.0\r\n3\r\n0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n[DATEIEN]\r\n' \
    > "$KAT/tervalo.KNF"
  export TERVALO_INDEX_ORDNER="$KAT/index/"
  run "$BIN/tervalo-admin-screenshots" "$OUT" "$KAT/tervalo.KNF" --ordner "$ORDNER" --speichern "$KAT/tervalo.KNF"
  run "$BIN/tervalo-screenshots" "$KAT/bilder" "$KAT/tervalo.KNF" "${ORDNER_X:?}" "${ORDNER_Y:?}"
  cp "$KAT/bilder/hauptfenster-raster.png" "$OUT/hauptfenster-ordner.png"
  rm -rf "$KAT"
fi
echo "Bilder in $OUT"
