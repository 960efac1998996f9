#!/usr/bin/env bash
# device_lost.sh TESTBED_SH EXE [ARGS...]: runs EXE under Wine in the current test bed
# (its env sourced) and switches the test bed's PulseAudio when the test asks
# (tests/win/audio_switch.h): the test creates "stop" or "start" in the folder that
# VALDRIN_AUDIO_SWITCH names (a Windows path), the script does it and answers with
# "stop-done" or "start-done". PulseAudio is started again whatever happens, so that
# later tests find the device back.
set -euo pipefail
testbed=$1; shift
state=${VALDRIN_TESTBED_STATE:-}
[ -n "$state" ] || { echo "device_lost.sh: no test bed in the environment (source STATE_DIR/env)" >&2; exit 1; }

work=$(mktemp -d)
stopped=no
restore() {
  [ "$stopped" = no ] || "$testbed" pulse-start "$state" >&2 || true
  rm -rf "$work"
}
trap restore EXIT

VALDRIN_AUDIO_SWITCH="Z:${work//\//\\}" wine "$@" &
test_pid=$!
while kill -0 "$test_pid" 2>/dev/null; do
  if [ -e "$work/stop" ] && [ ! -e "$work/stop-done" ]; then
    stopped=yes
    "$testbed" pulse-stop "$state" >&2
    touch "$work/stop-done"
  fi
  if [ -e "$work/start" ] && [ ! -e "$work/start-done" ]; then
    "$testbed" pulse-start "$state" >&2
    stopped=no
    touch "$work/start-done"
  fi
  sleep 0.05
done
wait "$test_pid"
