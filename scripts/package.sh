#!/usr/bin/env bash
# Installs what is missing, builds the release configuration for the prefix /usr and writes
# the Debian package into dist/ (tervalo_<version>_amd64.deb), then checks its layout, the
# package with lintian and the menu entries with desktop-file-validate.
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
cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target tervalo tervalo-cli tervalo-demo tervalo-server tervalo-packed-docs
mkdir -p dist
(cd "$BUILD" && cpack -G DEB >/dev/null)
rm -rf dist/_CPack_Packages
DEB=$(ls -t dist/tervalo_*_amd64.deb | head -n1)
echo "Paket: $DEB"
dpkg-deb --field "$DEB" Package Version Depends
# The service's files where Debian 12 looks for them, its settings a conffile (an edited one
# survives an upgrade), and no maintainer script that enables or starts the unit (CPack's own
# only run ldconfig).
inhalt=$(dpkg-deb -c "$DEB")
for f in ./usr/bin/tervalo-server ./usr/share/man/man1/tervalo-server.1.gz \
         ./lib/systemd/system/tervalo-server.service ./etc/tervalo/server.ini; do
  grep -q " $f\$" <<<"$inhalt" || { echo "Paket ohne $f: $DEB" >&2; exit 1; }
done
steuer=$(mktemp -d)
trap 'rm -rf "$steuer"' EXIT
dpkg-deb -e "$DEB" "$steuer"
grep -qx /etc/tervalo/server.ini "$steuer/conffiles" 2>/dev/null ||
  { echo "/etc/tervalo/server.ini ist keine conffile: $DEB" >&2; exit 1; }
for s in preinst postinst prerm postrm; do
  ! grep -qE 'systemctl|deb-systemd|tervalo-server' "$steuer/$s" 2>/dev/null ||
    { echo "$s im Paket richtet den Dienst ein: $DEB" >&2; exit 1; }
done
unit=$(dpkg-deb --fsys-tarfile "$DEB" | tar -xOf - ./lib/systemd/system/tervalo-server.service)
grep -qx 'ExecStart=/usr/bin/tervalo-server --einstellungen /etc/tervalo/server.ini' <<<"$unit" ||
  { echo "die Unit im Paket startet nicht /usr/bin/tervalo-server mit /etc/tervalo/server.ini" >&2; exit 1; }
desktop-file-validate packaging/*.desktop
# lintian's verdict is shown; errors fail the script.
lintian --tag-display-limit 0 "$DEB" || { echo "lintian meldet Fehler: $DEB" >&2; exit 1; }
