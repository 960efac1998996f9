#!/usr/bin/env bash
# The whole road with real speech: Debian's LibriVox clips are played into the test bed's
# capture device while the real program records (language "en") and sends its chunks to
# the local recognition server. The transcripts in the log pane must reach a word error
# rate close to the same server's on the same clips sent whole; a "zh" chunk must show the
# server's refusal, and the chunks after a change back to "en" must work again. The
# recording's transcript file must hold the pane's transcripts, in chunk order, with
# their times.
#
#   speech_e2e_test.sh NATIVE_BUILD_DIR APP_EXE DRIVER_EXE
#
# Runs inside the test bed (its env sourced: DISPLAY, WINEPREFIX, PULSE_SERVER, ...).
# Starts the server and the program itself and stops both by their own PIDs.
set -euo pipefail
source "$(dirname "$0")/speech_helpers.sh"
native=$1 app=$2 drive=$3
work=$(mktemp -d /tmp/valdrin-e2e.XXXXXX)
server_pid="" app_pid=""

log() { printf 'e2e: %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; log "server log: $work/server.log"; exit 1; }

cleanup() {
  local status=$?
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    wine "$drive" close >/dev/null 2>&1 || kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  [ "$status" -eq 0 ] && rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

port=$(free_port)
"$native/server/valdrin-server" --host 127.0.0.1 --port "$port" --workers 2 2>"$work/server.log" &
server_pid=$!
wait_for_server "$port" "$server_pid"

mapfile -t clips < <(librivox_clips)
reference=$(librivox_reference)

direct=""
for clip in "${clips[@]}"; do
  direct+=" $("$native/testbed/tools/valdrin-post-wav" 127.0.0.1 "$port" en "$clip")" || fail "direct upload of $clip"
done
direct_wer=$(word_error_rate "$reference" "$direct")

sox -n -r 16000 -c 1 -b 16 "$work/silence.wav" trim 0 8
sox -t raw -r 16000 -e signed -b 16 -c 1 /usr/share/pocketsphinx/test/data/goforward.raw "$work/goforward.wav"

wine "$app" >"$work/app.log" 2>&1 &
app_pid=$!
start_recording "$port"

for clip in "${clips[@]}"; do play "$clip"; done
play "$work/silence.wav"  # completes the chunk that holds the end of the speech
sleep 10                   # the last uploads are answered
tool=$(transcripts | tr '\n' ' ')
tool_wer=$(word_error_rate "$reference" "$tool")
log "reference:         $reference"
log "server, whole:     $direct"
log "through the tool:  $tool"
log "word error rate: server given the clips whole ${direct_wer}%, through the tool ${tool_wer}%"
python3 -c "import sys; sys.exit(0 if $tool_wer <= $direct_wer + 25 else 1)" ||
  fail "the tool's word error rate is too far above the server's own"

# "zh" is refused by the English-only server; the error reaches the pane.
drive lang zh
play "$work/goforward.wav"
play "$work/silence.wav"
wait_for_lines 1 '^\[Error\] POST failed: HTTP 4[0-9][0-9]: ' 20 || fail "no refusal for zh: $(pane)"

# Back to "en": the next chunks work again.
before=$(transcripts | wc -l)
drive lang en
play "$work/goforward.wav"
play "$work/silence.wav"
deadline=$((SECONDS + 20))
until [ "$(transcripts | wc -l)" -gt "$before" ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "no transcript after switching back to en: $(pane)"
  sleep 1
done
log "after zh and back to en: $(transcripts | tail -n1)"

# The recording's transcript file holds the pane's transcripts in chunk order, and a
# line for every other chunk, each stamped one chunk (7 s) after the one before.
drive press stop
deadline=$((SECONDS + 20))
until file=$(newest_transcript) && transcripts >"$work/pane-transcripts.txt" &&
      check_transcript_file "$file" "$work/pane-transcripts.txt" 7 >"$work/transcript-check.txt" 2>&1; do
  [ "$SECONDS" -lt "$deadline" ] || fail "transcript file: $(cat "$work/transcript-check.txt")"
  sleep 1
done
log "transcript file: $(cat "$work/transcript-check.txt")"
wine "$drive" close >/dev/null
wait "$app_pid" || true
app_pid=""
log "passed"
