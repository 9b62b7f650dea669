#!/usr/bin/env bash
# Installs the Debian packages a task needs, when one is missing, and the packages named after
# the task:
#   scripts/deps.sh run|test|bench|package|fuzz|screenshots|verbund [PACKAGE...]
# run          building and starting the programs (./run.sh)
# test         the test build with its peers and the German locale (./test.sh)
# bench        the benchmarks and the measuring scripts (scripts/bench*.sh, memcheck.sh); wrk and
#              ab load the height service, Boost.Beast is the HTTP library it is compared with
# package      the Debian package and its checks (scripts/package.sh)
# fuzz         the libFuzzer build (scripts/fuzz.sh)
# screenshots  the window pictures under a virtual X server (scripts/screenshots.sh)
# verbund      two service instances behind HAProxy (scripts/dienst-verbund.sh); builds nothing
set -euo pipefail
usage() { echo "usage: scripts/deps.sh run|test|bench|package|fuzz|screenshots|verbund [PACKAGE...]" >&2; exit 2; }
[ $# -ge 1 ] || usage
task=$1
shift
# Every build: the compiler, the core's libraries, gzip for the packed manual pages. proj-data
# (proj.db, the BETA2007 grid) is what the programs read at run time; proj-bin's cs2cs is the
# tests' peer for the coordinate conversion. libgdal-dev builds the raster module, the only
# part that links GDAL. libsqlite3-dev: the folder indexes. libcpp-httplib-dev: tervalo-server's HTTP.
BUILD=(build-essential cmake pkg-config libcli11-dev nlohmann-json3-dev libisal-dev libproj-dev libgdal-dev libsqlite3-dev libcpp-httplib-dev gzip)
# The desktop program; Qt SVG writes the height profile's SVG pictures.
UI=(qt6-base-dev qt6-svg-dev qt6-translations-l10n libjpeg-dev fonts-dejavu-core)
case "$task" in
  run)         PKGS=("${BUILD[@]}" "${UI[@]}" proj-data) ;;
  test)        PKGS=("${BUILD[@]}" "${UI[@]}" libgtest-dev libgmock-dev zlib1g-dev
                     gdal-bin python3-dbf shapelib proj-data proj-bin locales curl haproxy  # curl: the service's peer; haproxy: its load balancer
                     systemd man-db groff-base python3) ;;  # the unit checked offline, the manual page rendered
  bench)       PKGS=("${BUILD[@]}" libbenchmark-dev zlib1g-dev libdeflate-dev python3 strace time gdal-bin wrk apache2-utils libboost-dev) ;;
  package)     PKGS=("${BUILD[@]}" "${UI[@]}" dpkg-dev fakeroot file lintian desktop-file-utils) ;;
  fuzz)        PKGS=("${BUILD[@]}" clang libclang-rt-14-dev zlib1g-dev) ;;
  screenshots) PKGS=("${BUILD[@]}" "${UI[@]}" xvfb xauth locales) ;;
  verbund)     PKGS=(haproxy curl) ;;
  *)           usage ;;
esac
PKGS+=("$@")

SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The command-line tests read numbers under a German locale as well as under C; the window
# pictures are taken under it.
case "$task" in
  test|screenshots)
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
      $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
    fi ;;
esac
