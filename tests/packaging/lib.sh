# Shared by the packaging tests: sourced with SRC (source tree) and BIN (the build's programs) set.
set -euo pipefail
UNIT=$SRC/packaging/tervalo-server.service
INI=$SRC/packaging/server.ini
PAGE=$SRC/packaging/man/tervalo-server.1

fails=0
fail() { echo "FEHLER: $*" >&2; fails=$((fails + 1)); }
finish() { [ "$fails" -eq 0 ] && echo "ok" || { echo "$fails Fehler" >&2; exit 1; }; }
# A tool the test group of scripts/deps.sh installs; missing means the setup is wrong, not a pass.
need() { command -v "$1" >/dev/null || { echo "FEHLER: $1 fehlt (scripts/deps.sh test)" >&2; exit 1; }; }

# A scratch folder others may enter: the unprivileged user reads the programs and data in it.
TMP=$(mktemp -d /tmp/tervalo-paket-XXXXXX)
chmod 755 "$TMP"
trap 'rm -rf "$TMP"' EXIT

# Copies of the programs where any user may run them (the build folder may be closed).
copy_programs() {
  mkdir -p "$TMP/bin"
  for p in "$@"; do
    cp "$BIN/$p" "$TMP/bin/$p"
    chmod 755 "$TMP/bin/$p"
  done
}

# The unit's value of a key (the first line of it).
unit_value() { sed -n "s/^$1=//p" "${2:-$UNIT}" | head -n1; }
