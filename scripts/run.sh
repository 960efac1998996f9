#!/usr/bin/env bash
# Runs Valdrin Live against a local recognition server.
#
#   scripts/run.sh            build what is needed, start the local server on 127.0.0.1:8080
#                             (unless something already answers there), then start the tool
#
# With a display (DISPLAY set and reachable) the tool's window opens there under Wine and
# records from the default capture device; the run ends when the window is closed. When
# the bundled server was started here, the window is set to its address and "en" is
# selected in LANG, as that server knows English only (the program starts with "zh").
# Without one it runs a self-contained demonstration: a private test bed (Xvfb, PulseAudio,
# Wine prefix), real read speech played into its capture device, the transcript lines of
# the log pane printed here as they arrive, and a screenshot saved under out/.
# Everything it started is stopped when it ends or is interrupted.
#
# Environment: VALDRIN_SERVER_HOST, VALDRIN_SERVER_PORT (default 127.0.0.1 and 8080),
# VALDRIN_SERVER_WORKERS (default 2).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root=$(project_root)
host=${VALDRIN_SERVER_HOST:-127.0.0.1}
port=${VALDRIN_SERVER_PORT:-8080}
workers=${VALDRIN_SERVER_WORKERS:-2}

server_pid=""
testbed=""
chooser=""
cleanup() {
  local status=$?
  if [ -n "$chooser" ]; then kill "$chooser" 2>/dev/null || true; wait "$chooser" 2>/dev/null || true; fi
  if [ -n "$testbed" ]; then "$root/testbed/testbed.sh" stop "$testbed" >/dev/null 2>&1 || true; rm -rf "$testbed"; fi
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    say "stopping the local recognition server (PID $server_pid)"
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ensure_packages "${NATIVE_PACKAGES[@]}" "${SERVER_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" sox

say "building the local recognition server"
cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release -DVALDRIN_BUILD_TESTS=OFF \
  -DVALDRIN_BUILD_SERVER=ON >/dev/null
cmake --build "$root/build/native" -j "$(build_jobs)" --target valdrin-server >/dev/null

say "building the Windows program (MinGW-w64)"
deps=$("$root/scripts/setup-windows.sh" | tail -n1)
cmake -S "$root" -B "$root/build/win" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" -DVALDRIN_DEPS_PREFIX="$deps" >/dev/null
cmake --build "$root/build/win" -j "$(build_jobs)" --target valdrin-live valdrin-drive >/dev/null
app=$(find "$root/build/win" -name valdrin-live.exe | head -n1)
drive=$(find "$root/build/win" -name valdrin-drive.exe | head -n1)

if curl -fsS -m 2 "http://$host:$port/health" >/dev/null 2>&1; then
  say "a recognition server already answers at $host:$port: using it"
else
  say "starting the local recognition server on $host:$port ($workers workers)"
  "$root/build/native/server/valdrin-server" --host "$host" --port "$port" --workers "$workers" &
  server_pid=$!
  for _ in $(seq 1 100); do
    curl -fsS -m 1 "http://$host:$port/health" >/dev/null 2>&1 && break
    kill -0 "$server_pid" 2>/dev/null || { say "the server did not start"; exit 1; }
    sleep 0.2
  done
fi

# await_window: waits up to a minute until the program's window answers the driver.
await_window() {
  for _ in $(seq 1 60); do wine "$drive" dump >/dev/null 2>&1 && return 0; sleep 1; done
  return 1
}
# point_at_local_server: the window's host, port and language for the bundled server,
# which knows English only (LANG lists "auto", "en", "zh").
point_at_local_server() {
  wine "$drive" type server "$host" >/dev/null && wine "$drive" type port "$port" >/dev/null &&
    wine "$drive" lang en >/dev/null
}

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  say "starting Valdrin Live on display $DISPLAY; close its window to end"
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  if [ -n "$server_pid" ]; then
    # The program starts with "zh", which the bundled server refuses: choose for the user.
    (if await_window && point_at_local_server; then
       say "set the window to $host:$port and selected \"en\" in LANG: the local server knows English only"
       say "press Start to record"
     else
       say "could not set up the window: enter $host and $port and pick \"en\" in LANG yourself"
     fi) &
    chooser=$!
  else
    say "pick in LANG a language that the server at $host:$port knows (the program starts with \"zh\")"
  fi
  wine "$app"
  exit 0
fi

# No display: a self-contained demonstration in a private test bed.
source "$root/testbed/speech_helpers.sh"  # $speech, newest_transcript
mkdir -p "$root/out"
testbed=$(mktemp -d /tmp/valdrin-run.XXXXXX)
say "no display: running a demonstration in a private test bed ($testbed)"
"$root/testbed/testbed.sh" start "$testbed" >/dev/null
source "$testbed/env"
sox -n -r 16000 -c 1 -b 16 "$testbed/silence.wav" trim 0 8

wine "$app" >"$testbed/app.log" 2>&1 &
await_window || true
point_at_local_server
wine "$drive" press start >/dev/null

say "playing LibriVox read speech into the capture device; the log pane follows:"
(while read -r id; do paplay --device="$VALDRIN_TESTBED_SINK" "$speech/$id.wav"; done <"$speech/fileids"
 paplay --device="$VALDRIN_TESTBED_SINK" "$testbed/silence.wav") &
player=$!
shown=0
print_new_lines() {
  local lines
  mapfile -t lines < <(wine "$drive" pane | tr -d '\r')
  while [ "$shown" -lt "${#lines[@]}" ]; do printf '  | %s\n' "${lines[$shown]}"; shown=$((shown + 1)); done
}
while kill -0 "$player" 2>/dev/null; do print_new_lines; sleep 1; done
for _ in $(seq 1 10); do print_new_lines; sleep 1; done

import -window root "$root/out/demo-screenshot.png"
say "screenshot of the window: out/demo-screenshot.png"
wine "$drive" press stop >/dev/null
print_new_lines
wine "$drive" close >/dev/null
if transcript=$(newest_transcript); then
  cp "$transcript" "$root/out/demo-transcript.txt"
  say "the recording's transcript file: out/demo-transcript.txt"
fi
say "demonstration finished"
