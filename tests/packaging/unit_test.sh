#!/usr/bin/env bash
# The service's unit as systemd reads it, offline: `systemd-analyze verify` has nothing to say
# about it and its sandbox keeps the exposure score low. Broken copies must be caught by the
# same checks, so that neither can pass for want of looking.
#   unit_test.sh SOURCE_DIR BIN_DIR
SRC=$1 BIN=$2
. "$SRC/tests/packaging/lib.sh"
need systemd-analyze
need man

# verify wants the programs the unit runs and the page its Documentation= names: the built
# server stands in for /usr/bin's (the copy is otherwise the unit as shipped), the page is
# found through MANPATH.
copy_programs tervalo-server
mkdir -p "$TMP/man/man1" "$TMP/ohne-handbuch" "$TMP/ok"
cp "$PAGE" "$TMP/man/man1/"
OK=$TMP/ok/tervalo-server.service
sed "s|^ExecStart=/usr/bin/|ExecStart=$TMP/bin/|" "$UNIT" > "$OK"
grep -q "^ExecStart=$TMP/bin/tervalo-server " "$OK" || fail "ExecStart startet nicht /usr/bin/tervalo-server"

# Silent and 0, or a complaint: unknown keys are only warned about, so any output counts.
verify_clean() {  # unit [MANPATH]
  local out
  out=$(MANPATH=${2:-$TMP/man} systemd-analyze verify "$1" 2>&1) && [ -z "$out" ] && return 0
  echo "$out"
  return 1
}
if ! out=$(verify_clean "$OK"); then fail "systemd-analyze verify: $out"; fi

broken() {  # name, sed expression applied to the good copy
  mkdir -p "$TMP/$1"
  sed "$2" "$OK" > "$TMP/$1/tervalo-server.service"
  cmp -s "$OK" "$TMP/$1/tervalo-server.service" && fail "$1: die Änderung trifft nichts"
  verify_clean "$TMP/$1/tervalo-server.service" >/dev/null && fail "verify übersieht: $1"
  return 0
}
broken tippfehler 's/^ProtectSystem=/ProtectSytem=/'
broken wert 's/^DynamicUser=yes/DynamicUser=ja/'
broken programm "s|^ExecStart=$TMP/bin/tervalo-server|ExecStart=$TMP/bin/tervalo-servr|"
verify_clean "$OK" "$TMP/ohne-handbuch" >/dev/null && fail "verify übersieht die fehlende Handbuchseite"

# The index goes to the cache folder systemd makes writable for the dynamic user; any other
# folder is read-only under ProtectSystem=strict.
cache=$(unit_value CacheDirectory)
[ "$(unit_value Environment)" = "TERVALO_INDEX_ORDNER=/var/cache/$cache" ] ||
  fail "TERVALO_INDEX_ORDNER ist nicht der Cache-Ordner /var/cache/$cache"
# Tiles under /home are read, so it must stay readable.
[ "$(unit_value ProtectHome)" = "read-only" ] || fail "ProtectHome= ist nicht read-only"

# Measured 1.3 ("OK") with systemd 252; 2.0 leaves room for another version's weights.
LIMIT=20
report=$(systemd-analyze security --offline=yes "$UNIT" 2>&1) || true
score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p' <<<"$report")
echo "Exposure: ${score:-?}"
systemd-analyze security --offline=yes --threshold=$LIMIT "$UNIT" >/dev/null 2>&1 ||
  fail "Exposure ${score:-?} über $((LIMIT / 10)).$((LIMIT % 10)):
$report"
mkdir -p "$TMP/offen"
sed -E '/^(Private|Protect|Restrict|SystemCall|Capability|Ambient|LockPersonality|MemoryDeny|NoNewPrivileges|UMask)/d' \
    "$UNIT" > "$TMP/offen/tervalo-server.service"
systemd-analyze security --offline=yes --threshold=$LIMIT "$TMP/offen/tervalo-server.service" >/dev/null 2>&1 &&
  fail "die Schwelle lässt auch die Unit ohne Schutz durch"
finish
