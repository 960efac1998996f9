#!/usr/bin/env bash
# Two recognition servers behind HAProxy (valdrin.cfg beside this script) on loopback,
# the tool's own upload (valdrin-post-wav: the tool's MP3 encoder and PostChunk) posting
# real speech through it. No upload may be lost:
#   1. beside a server that refuses every upload with 503, each is answered by the other,
#      a 30 s chunk too (only a request that fits HAProxy's buffer can be sent again; its
#      speech is short, so that its recognition stays well inside the tool's 15 s), and
#      still when that server has stopped and its port refuses connections;
#   2. with two real servers, one killed by its PID while it recognises, every upload in
#      flight and after is answered by the one left.
#
#   redispatch_test.sh SERVER_EXE POST_WAV_EXE
#
# Starts HAProxy and the servers itself and stops them by their own PIDs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../testbed/speech_helpers.sh"
server_exe=$1 post_wav=$2
PATH=$PATH:/usr/sbin  # haproxy's place, outside an ordinary user's PATH
work=$(mktemp -d /tmp/valdrin-haproxy.XXXXXX)
pids=()

log() { printf 'redispatch: %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; log "logs: $work"; exit 1; }

cleanup() {
  local status=$? pid
  for pid in "${pids[@]}" $(cat "$work"/haproxy-*.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  [ "$status" -eq 0 ] && rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# start NAME PORT COMMAND...: runs COMMAND in the background until /health answers on PORT.
start() {
  local name=$1 port=$2; shift 2
  "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
  wait_for_server "$port" "$!" 120
}

# balance NAME BACKEND BACKEND: HAProxy in front of the two; its port in $front.
balance() {
  front=$(free_port)
  VALDRIN_LISTEN=127.0.0.1:$front VALDRIN_SERVER_1=$2 VALDRIN_SERVER_2=$3 \
    haproxy -f "$here/valdrin.cfg" -D -p "$work/haproxy-$1.pid" || fail "haproxy did not start"
  wait_for_server "$front" "$(cat "$work/haproxy-$1.pid")"
}

post() {  # post FILE.wav: fails unless the upload is answered with a transcript
  local text
  text=$("$post_wav" 127.0.0.1 "$front" en "$1" 2>>"$work/posts.log") || fail "upload of $1 lost"
  [ -n "$text" ] || fail "no transcript for $1"
}

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

mapfile -t clips < <(librivox_clips 5)
long=$work/long.wav
sox "${clips[1]}" "$long" pad 0 27.01

port_a=$(free_port) port_b=$(free_port) port_busy=$(free_port)
start a "$port_a" "$server_exe" --host 127.0.0.1 --port "$port_a"
start busy "$port_busy" python3 "$here/refusing_server.py" "$port_busy"
pid_busy=${pids[-1]}

balance refusing "127.0.0.1:$port_a" "127.0.0.1:$port_busy"
for clip in "${clips[@]:0:3}" "$long"; do post "$clip"; done
[ "$(awk '$1 > 200000' "$work/busy.log" | wc -l)" -ge 1 ] || fail "the 30 s chunk never met the refusing server"
log "$(wc -l <"$work/busy.log") refusals of 4 uploads re-dispatched, the 30 s chunk among them"
# Round robin offers it the next upload too, before its checks can tell it has stopped.
{ kill "$pid_busy" && wait "$pid_busy"; } 2>/dev/null || true
post "${clips[1]}"
kill "$(cat "$work/haproxy-refusing.pid")" && rm "$work/haproxy-refusing.pid"

start b "$port_b" "$server_exe" --host 127.0.0.1 --port "$port_b"
pid_b=${pids[-1]}
balance failover "127.0.0.1:$port_a" "127.0.0.1:$port_b"
loop() { for clip in "${clips[@]:1}"; do post "$clip"; done; }
loop & first=$!
loop & second=$!
idle=$(cpu_ticks "$pid_b")
deadline=$((SECONDS + 20))
until [ "$(cpu_ticks "$pid_b")" -ge $((idle + 20)) ]; do  # a fifth of a second: recognising
  [ "$SECONDS" -lt "$deadline" ] || fail "server b never got an upload"
  sleep 0.05
done
{ kill -KILL "$pid_b" && wait "$pid_b"; } 2>/dev/null || true
wait "$first" || fail "an upload was lost after server b stopped"
wait "$second" || fail "an upload was lost after server b stopped"
log "server b killed while recognising; all $(( 2 * (${#clips[@]} - 1) )) uploads answered"
