#!/usr/bin/env bash
# device_lost.sh TESTBED_SH TEST_EXE: runs TEST_EXE under Wine in the current test bed
# (its env sourced), stops PulseAudio once the test says it is recording, and starts
# PulseAudio again whatever happens, so that later tests find the device back.
set -euo pipefail
testbed=$1 exe=$2
[ -n "${PULSE_SERVER:-}" ] || { echo "device_lost.sh: no test bed in the environment" >&2; exit 1; }
# The test bed keeps its socket at STATE_DIR/pulse/native.
state=${VALDRIN_TESTBED_STATE:-$(dirname "$(dirname "${PULSE_SERVER#unix:}")")}

work=$(mktemp -d)
marker=$work/recording
restore() {
  "$testbed" pulse-start "$state" >&2 || true
  rm -rf "$work"
}
trap restore EXIT

VALDRIN_RECORDING_MARKER="Z:${marker//\//\\}" wine "$exe" &
test_pid=$!
for _ in $(seq 300); do
  [ -e "$marker" ] && break
  kill -0 "$test_pid" 2>/dev/null || break
  sleep 0.1
done
[ -e "$marker" ] && "$testbed" pulse-stop "$state" >&2
wait "$test_pid"
