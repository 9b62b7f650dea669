#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the peers need, when one is missing,
# and the packages named as arguments (scripts/package.sh adds its own).
set -euo pipefail
PKGS=(build-essential cmake pkg-config clang libclang-rt-14-dev
      qt6-base-dev qt6-translations-l10n libjpeg-dev
      libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
      fonts-dejavu-core xvfb xauth imagemagick gdal-bin python3-dbf shapelib locales strace time
      libisal-dev zlib1g-dev gzip libdeflate-dev "$@")
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The command-line tests read numbers under a German locale as well as under C.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
