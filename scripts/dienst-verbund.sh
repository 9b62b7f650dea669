#!/usr/bin/env bash
# Two tervalo-server instances on loopback behind HAProxy, in the foreground until Ctrl+C or
# SIGTERM, which stop all three:
#   scripts/dienst-verbund.sh --katalog NAME=PFAD [--katalog NAME=PFAD ...] [--port P]
#                             [--instanzen A,B] [--statistik S] [-- WEITERE-DIENST-OPTIONEN...]
# P is HAProxy's port (default 5000), A and B the instances' (default: free ones), S that of
# HAProxy's statistics page (default: a free one). The instances listen on 127.0.0.1: the
# options after -- leave out --adresse and --port. The configuration is
# scripts/haproxy-verbund.cfg with the ports filled in. The program: $TERVALO_SERVER, else
# build/bin/tervalo-server, else tervalo-server on the PATH. Runs as any user.
set -euo pipefail
hier=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "Aufruf: scripts/dienst-verbund.sh --katalog NAME=PFAD [--katalog ...] [--port P] [--instanzen A,B] [--statistik S] [-- OPTIONEN...]" >&2
  exit 2
}

kataloge=()
port=5000
instanzen=""
statistik=""
weitere=()
while [ $# -gt 0 ]; do
  case "$1" in
    --katalog)   [ $# -ge 2 ] || usage; kataloge+=(--katalog "$2"); shift 2 ;;
    --port)      [ $# -ge 2 ] || usage; port=$2; shift 2 ;;
    --instanzen) [ $# -ge 2 ] || usage; instanzen=$2; shift 2 ;;
    --statistik) [ $# -ge 2 ] || usage; statistik=$2; shift 2 ;;
    --)          shift; weitere=("$@"); break ;;
    -h|--help)   sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *)           echo "Unbekannte Angabe: $1" >&2; usage ;;
  esac
done
[ ${#kataloge[@]} -gt 0 ] || { echo "Kein Katalog angegeben: --katalog NAME=PFAD" >&2; usage; }

ist_port() { [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -ge 1 ] && [ "$1" -le 65535 ]; }
ist_port "$port" || { echo "Kein gültiger Port: $port" >&2; exit 2; }

"$hier/deps.sh" verbund

server=${TERVALO_SERVER:-}
if [ -z "$server" ]; then
  if [ -x "$hier/../build/bin/tervalo-server" ]; then server=$hier/../build/bin/tervalo-server
  else server=$(command -v tervalo-server || true); fi
fi
{ [ -n "$server" ] && [ -x "$server" ]; } ||
  { echo "tervalo-server nicht gefunden: Paket installieren, bauen (build/bin) oder TERVALO_SERVER setzen" >&2; exit 1; }
# /usr/sbin is not on an ordinary user's PATH.
haproxy=$(command -v haproxy || echo /usr/sbin/haproxy)
[ -x "$haproxy" ] || { echo "haproxy nicht gefunden" >&2; exit 1; }

# A port nothing answers on now; another program may still take it before we bind it, then the
# instance ends with its message.
belegt() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
freier_port() {
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 40000))
    belegt "$p" || { echo "$p"; return 0; }
  done
  echo "Kein freier Port gefunden" >&2
  exit 1
}
if [ -n "$instanzen" ]; then
  [[ $instanzen =~ ^[0-9]+,[0-9]+$ ]] || { echo "--instanzen erwartet A,B: $instanzen" >&2; exit 2; }
  port_a=${instanzen%,*} port_b=${instanzen#*,}
  { ist_port "$port_a" && ist_port "$port_b"; } || { echo "Kein gültiger Port: $instanzen" >&2; exit 2; }
else
  port_a=$(freier_port) port_b=$(freier_port)
  while [ "$port_b" = "$port_a" ]; do port_b=$(freier_port); done
fi
[ -n "$statistik" ] || statistik=$(freier_port)
ist_port "$statistik" || { echo "Kein gültiger Port: $statistik" >&2; exit 2; }

arbeit=$(mktemp -d "${TMPDIR:-/tmp}/tervalo-verbund-XXXXXX")
pids=()
stoppe() {  # SIGNAL PID...: signals each and waits up to 15 s for all, then kills the rest
  local sig=$1
  shift
  [ $# -gt 0 ] || return 0
  kill "-$sig" "$@" 2>/dev/null || true
  for _ in $(seq 150); do
    local lebt=0
    for p in "$@"; do kill -0 "$p" 2>/dev/null && lebt=1; done
    [ "$lebt" = 0 ] && break
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null || true
}
aufraeumen() {
  trap '' INT TERM
  # HAProxy first, so that no request reaches an instance that is stopping.
  [ -n "${haproxy_pid:-}" ] && stoppe USR1 "$haproxy_pid"
  [ ${#pids[@]} -gt 0 ] && stoppe TERM "${pids[@]}"
  wait 2>/dev/null || true
  rm -rf "$arbeit"
}
trap aufraeumen EXIT
# A stop asked for is no failure.
trap 'exit 0' INT TERM

# Each instance's log lines on standard error, marked with its name; the marking goes through
# a FIFO so that it stays this shell's child and ends before the script does.
starte() {  # NAME PORT: the instance's PID in $pid
  mkfifo "$arbeit/$1.log"
  # Ctrl+C reaches the whole group: the marking must outlive it to pass on the stop's lines.
  (trap '' INT TERM; exec sed -u "s/^/$1: /") <"$arbeit/$1.log" >&2 &
  "$server" "${kataloge[@]}" "${weitere[@]}" --port "$2" 2>"$arbeit/$1.log" </dev/null &
  pid=$!
  pids+=("$pid")
}
bereit() {  # PID URL: waits until the URL answers at all; false when the process ended
  for _ in $(seq 600); do
    kill -0 "$1" 2>/dev/null || return 1
    [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "$2" || true)" != 000 ] && return 0
    sleep 0.1
  done
  return 1
}
starte a "$port_a"
pid_a=$pid
starte b "$port_b"
pid_b=$pid
bereit "$pid_a" "http://127.0.0.1:$port_a/health" || { echo "Instanz a hat nicht begonnen zu antworten" >&2; exit 1; }
bereit "$pid_b" "http://127.0.0.1:$port_b/health" || { echo "Instanz b hat nicht begonnen zu antworten" >&2; exit 1; }

sed -e "s/@PORT@/$port/g" -e "s/@PORT_A@/$port_a/g" -e "s/@PORT_B@/$port_b/g" \
    -e "s/@STATISTIK_PORT@/$statistik/g" "$hier/haproxy-verbund.cfg" >"$arbeit/haproxy.cfg"
"$haproxy" -db -f "$arbeit/haproxy.cfg" </dev/null &
haproxy_pid=$!
bereit "$haproxy_pid" "http://127.0.0.1:$statistik/" ||
  { echo "HAProxy hat nicht begonnen (Port $port oder $statistik belegt?)" >&2; exit 1; }

echo "Instanz a: http://127.0.0.1:$port_a (PID $pid_a)"
echo "Instanz b: http://127.0.0.1:$port_b (PID $pid_b)"
echo "Statistik: http://127.0.0.1:$statistik/"
echo "Verbund bereit: http://127.0.0.1:$port (PID $haproxy_pid); beenden mit Strg+C"

# Until a signal or HAProxy ends; an instance that ends is reported, the other serves on.
laufend=("$haproxy_pid" "$pid_a" "$pid_b")
while :; do
  code=0
  wait -n "${laufend[@]}" || code=$?
  if ! kill -0 "$haproxy_pid" 2>/dev/null; then
    echo "HAProxy beendet (Code $code)" >&2
    exit 1
  fi
  rest=()
  for p in "${laufend[@]}"; do
    if kill -0 "$p" 2>/dev/null; then rest+=("$p")
    else
      [ "$p" = "$pid_a" ] && n=a || n=b
      echo "Instanz $n beendet (Code $code); die andere antwortet weiter" >&2
    fi
  done
  laufend=("${rest[@]}")
  [ ${#laufend[@]} -gt 1 ] || { echo "Keine Instanz läuft mehr" >&2; exit 1; }
done
