#!/usr/bin/env bash
# The unit's ExecStart line run by hand as an unprivileged user, in an environment as bare as
# systemd's, with the packaged example settings as an administrator edits them: it answers
# curl, builds its folder index in the cache folder the unit names, reads its catalogues
# again on the unit's ExecReload line and ends with 0 on SIGTERM. The example as installed,
# without a catalogue, refuses to start with 2 (which the unit does not restart).
#   start_test.sh SOURCE_DIR BIN_DIR
SRC=$1 BIN=$2
. "$SRC/tests/packaging/lib.sh"
need curl
need python3
need setpriv

copy_programs tervalo-server tervalo-demo tervalo-cli
# The demo terrain with its system, and a folder entry over the same tiles, whose index the
# service must write. The CLI keeps its own index elsewhere; the service starts without it.
export TERVALO_INDEX_ORDNER=$TMP/index-cli
"$TMP/bin/tervalo-demo" "$TMP/demo" >/dev/null
KNF=$TMP/demo/tervalo.KNF
"$TMP/bin/tervalo-cli" konf --konf "$KNF" --system EPSG:31467 >/dev/null
"$TMP/bin/tervalo-cli" konf --konf "$TMP/ordner.KNF" --save "$TMP/ordner.KNF" --hinzufuegen "$TMP/demo/Daten" >/dev/null
"$TMP/bin/tervalo-cli" konf --konf "$TMP/ordner.KNF" --system EPSG:31467 >/dev/null
chmod -R a+rX "$TMP/demo" "$TMP"/ordner.*

# As systemd does for CacheDirectory=: the folder, owned by the service's user.
if [ "$(id -u)" -eq 0 ]; then
  DIENST=65534
  SETPRIV=(setpriv --reuid=$DIENST --regid=$DIENST --clear-groups --no-new-privs --)
else
  DIENST=$(id -u)
  SETPRIV=()  # already unprivileged
fi
mkdir "$TMP/cache"
chown "$DIENST" "$TMP/cache"
chmod 700 "$TMP/cache"

# The unit's lines with the installed paths replaced by this test's.
exec_line=$(unit_value ExecStart)
exec_line=${exec_line//\/usr\/bin\//$TMP/bin/}
exec_line=${exec_line//\/etc\/tervalo\/server.ini/$TMP/server.ini}
env_line=$(unit_value Environment)
env_line=${env_line//\/var\/cache\/tervalo/$TMP/cache}
case "$exec_line" in
  "$TMP/bin/tervalo-server "*"$TMP/server.ini"*) ;;
  *) echo "FEHLER: ExecStart nennt nicht /usr/bin/tervalo-server und /etc/tervalo/server.ini: $exec_line" >&2; exit 1 ;;
esac
[ "$env_line" = "TERVALO_INDEX_ORDNER=$TMP/cache" ] || { echo "FEHLER: Environment= unerwartet: $env_line" >&2; exit 1; }
read -ra CMD <<<"$exec_line"
# As the service's user with what systemd passes: PATH, the locale and the unit's
# Environment=; the sanitizers' options go along. It replaces the (sub)shell it runs in, so
# that `as_service ... &` leaves the service's own PID in $!.
as_service() {
  exec env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "$env_line" \
      ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
      "${SETPRIV[@]}" "$@"
}

# As installed: every key commented out, so no catalogue.
cp "$INI" "$TMP/server.ini"
chmod 644 "$TMP/server.ini"
code=0
(as_service "${CMD[@]}") >"$TMP/log" 2>&1 || code=$?
[ "$code" -eq 2 ] || fail "das Beispiel ohne Katalog endet mit $code statt 2: $(cat "$TMP/log")"
grep -q "Kein Katalog angegeben" "$TMP/log" || fail "keine Meldung ohne Katalog: $(cat "$TMP/log")"

# As an administrator edits it: catalogues (one relative to the file) and a free port.
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'Katalog.demo=demo/tervalo.KNF\nKatalog.ordner=%s\nPort=%s\n' "$TMP/ordner.KNF" "$PORT" >>"$TMP/server.ini"
URL=http://127.0.0.1:$PORT
as_service "${CMD[@]}" >"$TMP/log" 2>&1 &
PID=$!
trap 'kill -9 $PID 2>/dev/null || true; rm -rf "$TMP"' EXIT
for _ in $(seq 300); do
  curl -s -o /dev/null "$URL/health" && break
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.1
done
get() { curl -sS -w '\n%{http_code}' "$URL$1" 2>&1 || true; }  # body, then the status (000: no answer)
body() { sed '$d' <<<"$1"; }
status() { tail -n1 <<<"$1"; }

r=$(get /health)
[ "$(status "$r")" = 200 ] || fail "/health: $r
$(cat "$TMP/log")"

# The same height as the command line gives on the same catalogue.
r=$(get '/v1/demo/punkte?punkte=3567002.5,5936002.5')
cli=$(printf '3567002.5 5936002.5\n' | "$TMP/bin/tervalo-cli" batch --json --konf "$KNF" 2>/dev/null | head -n1)
[ "$(status "$r")" = 200 ] || fail "/v1/demo/punkte: $r"
python3 - "$(body "$r")" "$cli" <<'EOF' || fail "Dienst und tervalo-cli batch --json antworten verschieden: $r / $cli"
import json, sys
dienst, cli = json.loads(sys.argv[1]), json.loads(sys.argv[2])
sys.exit(0 if dienst["results"][0] == cli and cli["naechster"] is not None else 1)
EOF
# WGS 84 needs PROJ's data, read as the service's user.
r=$(get '/v1/demo?locations=53.556,10.0')
python3 - "$(body "$r")" <<'EOF' || fail "/v1/demo mit WGS 84: $r"
import json, sys
e = json.loads(sys.argv[1])["results"][0]
sys.exit(0 if type(e["elevation"]) in (int, float) and "error" not in e else 1)
EOF
r=$(get '/v1/ordner/punkte?punkte=3567002.5,5936002.5')
[ "$(status "$r")" = 200 ] && grep -q '"naechster":{' <<<"$r" || fail "/v1/ordner/punkte: $r"
ls "$TMP"/cache/*.sqlite >/dev/null 2>&1 || fail "kein Ordner-Index im Cache-Ordner: $(ls -la "$TMP/cache")
$(cat "$TMP/log")"

# A catalogue added to the file is served after the unit's ExecReload line.
printf 'Katalog.zwei=demo/tervalo.KNF\n' >>"$TMP/server.ini"
reload_line=$(unit_value ExecReload)
reload_line=${reload_line//\$MAINPID/$PID}
read -ra RELOAD <<<"$reload_line"
(as_service "${RELOAD[@]}") || fail "ExecReload: $reload_line"
for _ in $(seq 100); do grep -q "Kataloge neu gelesen" "$TMP/log" && break; sleep 0.1; done
r=$(get '/v1/zwei/punkte?punkte=3567002.5,5936002.5')
[ "$(status "$r")" = 200 ] || fail "nach ExecReload: $r
$(cat "$TMP/log")"

kill -TERM "$PID"
code=0
wait "$PID" || code=$?
[ "$code" -eq 0 ] || fail "SIGTERM: Exit-Status $code
$(cat "$TMP/log")"
grep -q "lauscht auf $URL" "$TMP/log" || fail "Protokoll ohne Startzeile: $(cat "$TMP/log")"
finish
