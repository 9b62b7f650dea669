#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, creates the demo terrain
# when no catalogue exists beside the programs, and starts Tervalo.
#   ./run.sh          normal user
#   ./run.sh /MAINT   with administrator rights (file manager, data export)
# Without a display it prints a height query at a demo coordinate instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
BIN="$BUILD/bin"

if [ ! -f "$BIN/tervalo.KNF" ]; then
  "$BIN/tervalo-demo"
fi

DEMO_X=3567002.5
DEMO_Y=5936002.5
echo
echo "Demo-Koordinate: Rechtswert $DEMO_X, Hochwert $DEMO_Y"
echo "Weitere Abfragen: $BIN/tervalo-cli query <Rechtswert> <Hochwert>"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BIN/tervalo" "$@"
else
  echo "Keine Anzeige gefunden (DISPLAY ist leer): Abfrage ohne Fenster."
  echo
  "$BIN/tervalo-cli" query "$DEMO_X" "$DEMO_Y"
fi
