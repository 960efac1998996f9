#!/usr/bin/env bash
# The Windows test bed: a virtual X display, a PulseAudio daemon whose null sink is the
# default playback and (through its monitor) the default capture device, and a Wine
# prefix, all private to one STATE_DIR so that two runs never share anything.
#
#   testbed/testbed.sh start STATE_DIR        start all three, write STATE_DIR/env
#   testbed/testbed.sh stop STATE_DIR         stop everything start began, by PID, and delete
#                                             the prefix copy; idempotent, safe after a
#                                             start that failed half-way
#   testbed/testbed.sh pulse-stop STATE_DIR   stop only PulseAudio: the capture device vanishes
#   testbed/testbed.sh pulse-start STATE_DIR  start PulseAudio again (same socket and sink);
#                                             does nothing when it runs
#   testbed/testbed.sh play STATE_DIR FILE [paplay args...]
#                                             play a sound file into the null sink (what the
#                                             capture device records); returns when played
#
# STATE_DIR/env holds export lines to source before running wine, ctest or paplay:
#   DISPLAY                 the Xvfb display, e.g. :1
#   WINEPREFIX              STATE_DIR/wineprefix, a copy of the cached prefix
#   WINEDEBUG=-all  WINEDLLOVERRIDES="mscoree,mshtml="
#   PULSE_SERVER            unix:STATE_DIR/pulse/native
#   PULSE_RUNTIME_PATH  PULSE_STATE_PATH  PULSE_CLIENTCONFIG (no autospawn)
#   VALDRIN_TESTBED_STATE   STATE_DIR itself
#   VALDRIN_TESTBED_SINK    the null sink's name; its monitor is the default source
#   VALDRIN_XVFB_PID  VALDRIN_PULSE_PID  VALDRIN_WINESERVER_PID
# Logs go to STATE_DIR/{xvfb,pulse,wineserver,wine}.log. STATE_DIR's path must be short
# (a Unix socket lives in it). The prefix is created once per Wine version into
# $(valdrin_cache_dir)/wineprefix-<key> (/var/cache/valdrin unless VALDRIN_CACHE_DIR).
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/../scripts/lib.sh"

SINK=valdrin_sink
WINEDEBUG_VALUE=-all
WINEDLLOVERRIDES_VALUE="mscoree,mshtml="
START_TIMEOUT=20  # seconds for Xvfb and PulseAudio to come up

die() { say "testbed: $*"; exit 1; }

# --- processes, recorded as "PID START_TIME" so that a reused PID is never signalled ---

proc_start_time() {  # field 22 of /proc/PID/stat, counted after the command name
  local stat fields
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 0
  read -r -a fields <<<"${stat##*) }"
  echo "${fields[19]}"
}

record_pid() {  # record_pid NAME PID
  mkdir -p "$STATE/pids"
  echo "$2 $(proc_start_time "$2")" >"$STATE/pids/$1"
}

# recorded_pid NAME: prints the PID if that process is still the one recorded.
recorded_pid() {
  local pid started
  [ -f "$STATE/pids/$1" ] || return 1
  read -r pid started <"$STATE/pids/$1"
  [ -n "$pid" ] && [ "$(proc_start_time "$pid")" = "$started" ] && echo "$pid"
}

stop_recorded() {  # stop_recorded NAME: SIGTERM, then SIGKILL after 10 s
  local pid i
  if pid=$(recorded_pid "$1"); then
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 100); do
      recorded_pid "$1" >/dev/null || break
      sleep 0.1
    done
    if recorded_pid "$1" >/dev/null; then
      say "testbed: $1 ($pid) ignored SIGTERM, killing it"
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$STATE/pids/$1"
}

wait_until() {  # wait_until WHAT COMMAND...: polls for START_TIMEOUT seconds
  local what=$1 i; shift
  for i in $(seq $((START_TIMEOUT * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  die "$what did not come up within $START_TIMEOUT s"
}

# --- X display ---

start_xvfb() {
  # -displayfd lets Xvfb pick a free display and report it once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$STATE/xvfb.display" </dev/null >"$STATE/xvfb.log" 2>&1 &
  record_pid xvfb $!
  wait_until Xvfb test -s "$STATE/xvfb.display"
  DISPLAY=:$(tr -d '\n' <"$STATE/xvfb.display")
  export DISPLAY
}

# --- PulseAudio ---

pulse_env() {
  export PULSE_SERVER=unix:$STATE/pulse/native
  export PULSE_RUNTIME_PATH=$STATE/pulse/run
  export PULSE_STATE_PATH=$STATE/pulse/state
  export PULSE_CLIENTCONFIG=$STATE/pulse/client.conf
}

pulse_is_up() { pactl info >/dev/null 2>&1; }

start_pulse() {
  pulse_env
  mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
  # A client must never start a daemon of its own when this one is stopped on purpose.
  echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
  cat >"$STATE/pulse/daemon.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$STATE/pulse/native
load-module module-null-sink sink_name=$SINK rate=48000 channels=2
set-default-sink $SINK
set-default-source $SINK.monitor
EOF
  pulseaudio -n -F "$STATE/pulse/daemon.pa" --exit-idle-time=-1 --daemonize=no \
    --use-pid-file=no --log-target=stderr </dev/null >>"$STATE/pulse.log" 2>&1 &
  record_pid pulse $!
  wait_until PulseAudio pulse_is_up
}

# --- Wine ---

# The recipe for a new prefix; its text is part of the cache key.
create_prefix() {  # create_prefix DIR (DISPLAY must be set)
  WINEPREFIX=$1 WINEDEBUG=$WINEDEBUG_VALUE WINEDLLOVERRIDES=$WINEDLLOVERRIDES_VALUE \
    wineboot -i && WINEPREFIX=$1 wineserver -w
}

# cached_prefix: prints the cached prefix for this Wine, creating it first if needed.
cached_prefix() {
  local cache key dir
  cache=$(valdrin_cache_dir)
  mkdir -p "$cache"
  key=$( { dpkg-query -W wine wine64 fonts-wine; declare -f create_prefix
           echo "$WINEDEBUG_VALUE $WINEDLLOVERRIDES_VALUE"; } | sha256sum | cut -c1-16)
  dir=$cache/wineprefix-$key
  (
    flock 9
    if [ "$(cat "$dir/valdrin-prefix.stamp" 2>/dev/null)" = "$key" ] \
       && [ -f "$dir/system.reg" ] && [ -f "$dir/drive_c/windows/system32/kernel32.dll" ]; then
      exit 0
    fi
    say "creating the Wine prefix $dir (once per Wine version)"
    local start=$SECONDS
    rm -rf "$dir" "$dir.new"
    create_prefix "$dir.new" >"$STATE/wine.log" 2>&1 || { tail -n 20 "$STATE/wine.log" >&2; exit 1; }
    echo "$key" >"$dir.new/valdrin-prefix.stamp"
    mv "$dir.new" "$dir"
    say "Wine prefix created in $((SECONDS - start)) s"
  ) 9>"$cache/wineprefix.lock" >&2
  echo "$dir"
}

start_wine() {
  export WINEPREFIX=$STATE/wineprefix WINEDEBUG=$WINEDEBUG_VALUE
  export WINEDLLOVERRIDES=$WINEDLLOVERRIDES_VALUE
  local cached
  cached=$(cached_prefix)
  rm -rf "$WINEPREFIX"
  cp -a "$cached" "$WINEPREFIX"
  # Wine links the user's Documents, Desktop and the like to $HOME. A test bed keeps its
  # own folders, so that what the programs save there (transcripts) goes with it.
  local folder
  for folder in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$folder" ]; then rm "$folder" && mkdir "$folder"; fi
  done
  # One persistent server for the run: test exes start faster, and stop has a PID to end.
  wineserver -f -p </dev/null >"$STATE/wineserver.log" 2>&1 &
  record_pid wineserver $!
  # The first Wine process fixes the display for the server's life; DISPLAY is set.
  wine cmd /c exit </dev/null >>"$STATE/wine.log" 2>&1 || die "Wine does not run; see $STATE/wine.log"
}

stop_wine() {
  local prefix=$STATE/wineprefix
  # Also ends a server that Wine started itself after a test killed the recorded one.
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  fi
  stop_recorded wineserver
  rm -rf "$prefix"
}

# --- env file ---

write_env() {
  local xvfb pulse wineserver
  xvfb=$(recorded_pid xvfb || true)
  pulse=$(recorded_pid pulse || true)
  wineserver=$(recorded_pid wineserver || true)
  pulse_env
  cat >"$STATE/env.new" <<EOF
export DISPLAY=$(printf %q "$DISPLAY")
export WINEPREFIX=$(printf %q "$STATE/wineprefix")
export WINEDEBUG=$(printf %q "$WINEDEBUG_VALUE")
export WINEDLLOVERRIDES=$(printf %q "$WINEDLLOVERRIDES_VALUE")
export PULSE_SERVER=$(printf %q "$PULSE_SERVER")
export PULSE_RUNTIME_PATH=$(printf %q "$PULSE_RUNTIME_PATH")
export PULSE_STATE_PATH=$(printf %q "$PULSE_STATE_PATH")
export PULSE_CLIENTCONFIG=$(printf %q "$PULSE_CLIENTCONFIG")
export VALDRIN_TESTBED_STATE=$(printf %q "$STATE")
export VALDRIN_TESTBED_SINK=$SINK
export VALDRIN_XVFB_PID=$xvfb
export VALDRIN_PULSE_PID=$pulse
export VALDRIN_WINESERVER_PID=$wineserver
EOF
  mv "$STATE/env.new" "$STATE/env"
}

# --- subcommands ---

cmd_start() {
  ensure_packages "${WINDOWS_PACKAGES[@]}"
  local socket=$STATE/pulse/native
  [ ${#socket} -lt 100 ] || die "STATE_DIR path too long for a Unix socket: $STATE"
  local name
  for name in xvfb pulse wineserver; do
    recorded_pid "$name" >/dev/null && die "$STATE is in use; stop it first"
  done
  local start=$SECONDS
  start_xvfb
  start_pulse
  start_wine
  write_env
  say "test bed up in $((SECONDS - start)) s: DISPLAY=$DISPLAY; source $STATE/env"
}

cmd_stop() {
  stop_wine
  stop_recorded pulse
  stop_recorded xvfb
  rm -f "$STATE/env"
}

cmd_pulse_stop() {
  stop_recorded pulse
}

cmd_pulse_start() {
  [ -f "$STATE/env" ] || die "no test bed in $STATE"
  recorded_pid pulse >/dev/null && return 0
  source "$STATE/env"
  start_pulse
  write_env
}

cmd_play() {
  [ $# -ge 1 ] || die "play needs a sound file"
  [ -f "$STATE/env" ] || die "no test bed in $STATE"
  source "$STATE/env"
  paplay --device="$VALDRIN_TESTBED_SINK" "$@"
}

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

[ $# -ge 2 ] || usage
command=$1
if [ ! -d "$2" ]; then
  case $command in
    start) mkdir -p "$2" ;;
    stop|pulse-stop) exit 0 ;;
    *) die "no test bed in $2" ;;
  esac
fi
STATE=$(cd "$2" && pwd)
shift 2
case $command in
  start) cmd_start ;;
  stop) cmd_stop ;;
  pulse-stop) cmd_pulse_stop ;;
  pulse-start) cmd_pulse_start ;;
  play) cmd_play "$@" ;;
  *) usage ;;
esac
