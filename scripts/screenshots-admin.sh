#!/usr/bin/env bash
# Writes pictures of the administrator windows into FOLDER (default screenshots/):
# optionen.png, optionen-ohne-admin.png, dateimanager.png, dateimanager-menue.png, dbf-info.png.
# Called by screenshots.sh. Builds the window library in the build folder (BUILD_DIR, default
# "build"), compiles scripts/admin-screenshots.cpp against it, creates the demo terrain when no
# catalogue exists yet and runs the windows under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=${1:-screenshots}
case "$OUT" in /*) ;; *) OUT="$ROOT/$OUT" ;; esac
BUILD=${BUILD_DIR:-build}

[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(tervalo_ui)
if cmake --build "$BUILD" --target help | grep 'tervalo-demo' >/dev/null; then
  targets+=(tervalo-demo)
fi
cmake --build "$BUILD" -j2 --target "${targets[@]}"

BIN="$BUILD/bin"
mkdir -p "$BIN"
if [ ! -f "$BIN/tervalo.KNF" ] && [ -x "$BIN/tervalo-demo" ]; then
  (cd "$BIN" && ./tervalo-demo)
fi

# The program must be built like the libraries it links (sanitizers included).
flags=(-std=c++20 -O1 -fPIC)
if grep -q '^TERVALO_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt"; then
  flags+=(-fsanitize=address,undefined)
  export ASAN_OPTIONS=detect_leaks=0
fi
# shellcheck disable=SC2046
g++ "${flags[@]}" -I"$ROOT" scripts/admin-screenshots.cpp \
  "$BUILD/libtervalo_ui.a" "$BUILD/libtervalo_core.a" \
  $(pkg-config --cflags --libs Qt6Widgets) -ljpeg -o "$BIN/admin-screenshots"

mkdir -p "$OUT"
# German numbers and Qt texts whatever the caller's locale.
export LANG=de_DE.UTF-8 LC_ALL=
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "$BIN/admin-screenshots" "$OUT" "$BIN/tervalo.KNF"
else
  QT_QPA_PLATFORM=offscreen "$BIN/admin-screenshots" "$OUT" "$BIN/tervalo.KNF"
fi
