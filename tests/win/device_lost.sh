#!/usr/bin/env bash
# device_lost.sh TESTBED_SH TEST_EXE: runs TEST_EXE under Wine in the current test bed
# (its env sourced), stops PulseAudio once the test says it is recording, and starts
# PulseAudio again whatever happens, so that later tests find the device back.
set -euo pipefail
testbed=$1 exe=$2
state=${VALDRIN_TESTBED_STATE:-}
[ -n "$state" ] || { echo "device_lost.sh: no test bed in the environment (source STATE_DIR/env)" >&2; exit 1; }

work=$(mktemp -d)
marker=$work/recording
stopped=no
restore() {
  [ "$stopped" = no ] || "$testbed" pulse-start "$state" >&2 || true
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
if [ -e "$marker" ]; then
  stopped=yes
  "$testbed" pulse-stop "$state" >&2
fi
wait "$test_pid"
