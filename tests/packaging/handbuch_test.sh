#!/usr/bin/env bash
# The service's manual page renders without a warning and describes every option its --help
# lists and every key of [Dienst]; the example settings name every key too.
#   handbuch_test.sh SOURCE_DIR BIN_DIR
SRC=$1 BIN=$2
. "$SRC/tests/packaging/lib.sh"
need man

render() { LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man "$@" -l "$PAGE"; }
warnings=$(render --warnings 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man meldet: $warnings"
page=$(render 2>/dev/null)
[ -n "$page" ] || fail "die Seite ist leer"

help=$("$BIN/tervalo-server" --help)
options=$(grep -oE '^[[:space:]]+-[^[:space:]]+' <<<"$help" | tr ',' '\n' | tr -d '[:blank:]' | grep -E '^-' | sort -u)
[ "$(wc -l <<<"$options")" -ge 8 ] || fail "--help nennt zu wenige Optionen: $options"
# Each as the tag of an item (at a line's start, maybe after its short form).
for o in $options; do
  grep -qE -- "^[[:space:]]+([^[:space:]]+, )?$o([[:space:],]|\$)" <<<"$page" || fail "die Seite beschreibt $o nicht"
done

# The keys as --help names them: "(Schlüssel Adresse, Port, ..., je Katalog Katalog.NAME=PFAD)".
flat=$(tr -s '[:space:]' ' ' <<<"$help")
keys=$(sed -n 's/.*(Schlüssel \([^)]*\), je Katalog.*/\1/p' <<<"$flat" | tr -d ' ' | tr ',' ' ')
[ -n "$keys" ] || fail "--help nennt die Schlüssel nicht mehr in der erwarteten Form: $flat"
for k in $keys Katalog.; do
  grep -qE "^[[:space:]]+$k" <<<"$page" || fail "die Seite beschreibt den Schlüssel $k nicht"
  grep -q "^#$k" "$INI" || fail "das Beispiel $INI nennt den Schlüssel $k nicht"
done
finish
