#!/usr/bin/env bash
# Installs what is missing, builds the release configuration for the prefix /usr and writes
# the Debian package into dist/ (tervalo_<version>_amd64.deb), then checks it with lintian and
# the menu entries with desktop-file-validate.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package

BUILD=${BUILD_DIR:-build-package}
# Debian's hardening flags (stack protector, fortify, relro, bindnow, PIE).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTERVALO_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target tervalo tervalo-cli tervalo-demo tervalo-packed-docs
mkdir -p dist
(cd "$BUILD" && cpack -G DEB >/dev/null)
rm -rf dist/_CPack_Packages
DEB=$(ls -t dist/tervalo_*_amd64.deb | head -n1)
echo "Paket: $DEB"
dpkg-deb --field "$DEB" Package Version Depends
desktop-file-validate packaging/*.desktop
# lintian's verdict is shown; errors fail the script.
lintian --tag-display-limit 0 "$DEB" || { echo "lintian meldet Fehler: $DEB" >&2; exit 1; }
