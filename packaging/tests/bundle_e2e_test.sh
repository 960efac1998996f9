#!/usr/bin/env bash
# The release bundle as a Windows user gets it: the zip unpacked into an empty folder, a
# test bed of its own with a fresh Wine prefix, and nothing of the build tree on a path the
# exes see (they run from the unpacked folder, in an empty working folder).
#   1. valdrin-server.exe: /health answers; a taken port, a missing model and a bad option
#      are refused as on Linux; bad uploads get their 4xx and the server keeps serving;
#      "zh" gets 422; LibriVox clips give English text whose word error rate is within 5
#      points of the Linux server's on the same clips.
#   2. valdrin-live.exe pointed at that server: "en", Start, real speech into the capture
#      device, transcripts in the pane, Stop, and the program exits with 0 when closed.
#   3. Ctrl+C (SIGINT under Wine) stops the server, which exits with 0.
# Prints both servers' peak memory and real-time factor on the same clips.
#
#   bundle_e2e_test.sh ZIP NATIVE_BUILD_DIR DRIVER_EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/testbed/speech_helpers.sh"
zip=$(realpath "$1") native=$(realpath "$2")
clip_count=2
work=$(mktemp -d /tmp/valdrin-bundle.XXXXXX)
testbed=$work/tb
linux_pid="" windows_pid="" app_pid=""

log() { printf 'bundle e2e: %s\n' "$*" >&2; }
fail() { log "FAILED: $*"; log "logs in $work"; exit 1; }

# stop_server PID: Ctrl+C (SIGINT), as a user stops it, SIGKILL after 15 s; returns
# the server's exit status.
stop_server() {
  local pid=$1 _ status=0
  [ -n "$pid" ] || return 0
  kill -INT "$pid" 2>/dev/null || true
  for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || status=$?
  return "$status"
}

cleanup() {
  local status=$?
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  stop_server "$windows_pid" || true
  stop_server "$linux_pid" || true
  "$root/testbed/testbed.sh" stop "$testbed" || true
  [ "$status" -eq 0 ] && rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

mkdir "$work/bundle" "$work/tools" "$work/cwd"
unzip -q "$zip" -d "$work/bundle"
cp "$3" "$work/tools/"
drive=$work/tools/${3##*/}
bundle=$work/bundle
cd "$work/cwd"

# peak_memory PID: the process's peak resident memory in MiB.
peak_memory() { awk '/^VmHWM:/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }
# real_time_factor LOG: recognition time over audio time of every request in a server log.
real_time_factor() {
  sed -n 's/.* audio=\([0-9.]*\)s .* recognition=\([0-9.]*\)s .*/\1 \2/p' "$1" |
    awk '{ audio += $1; busy += $2 } END { printf "%.2f", busy / audio }'
}
# transcribe PORT [LANGUAGE]: posts the clips one after another as the tool would.
transcribe() {
  local clip text=""
  while read -r clip; do
    text+=" $("$native/testbed/tools/valdrin-post-wav" 127.0.0.1 "$1" "${2:-en}" "$clip")" || return 1
  done < <(librivox_clips "$clip_count")
  printf '%s\n' "$text"
}

"$root/testbed/testbed.sh" start "$testbed"
source "$testbed/env"
unset WINEPATH

linux_port=$(free_port)
"$native/server/valdrin-server" --port "$linux_port" 2>"$work/linux-server.log" &
linux_pid=$!
windows_port=$(free_port)
wine "$bundle/valdrin-server.exe" --port "$windows_port" </dev/null 2>"$work/windows-server.log" &
windows_pid=$!
wait_for_server "$linux_port" "$linux_pid"
wait_for_server "$windows_port" "$windows_pid" 90
url=http://127.0.0.1:$windows_port/inference

# Refusals to start: exit status | what | part of the message | exe | arguments.
mkdir "$work/exe-alone"
cp "$bundle/valdrin-server.exe" "$work/exe-alone/"
while IFS='|' read -r want what message exe args; do
  status=0
  # shellcheck disable=SC2086
  output=$(timeout 60 wine "$exe" $args </dev/null 2>&1) || status=$?
  [ "$status" = "$want" ] && [[ $output == *"$message"* ]] || fail "$what: exit status $status, $output"
done <<EOT
1|a taken port|cannot listen on 127.0.0.1:$windows_port: |$bundle/valdrin-server.exe|--port $windows_port
1|no model beside the exe|model\\en-us belongs beside valdrin-server.exe|$work/exe-alone/valdrin-server.exe|--port 0
2|a bad option|--workers must be a number from 1 to 16|$bundle/valdrin-server.exe|--workers 99
EOT

# Bad uploads: the expected status, what it is, curl's arguments (split at spaces).
echo "not audio" >"$work/not-audio.mp3"
printf -- '--cut\r\nContent-Disposition: form-data; name="file"\r\n\r\nID3' >"$work/cut-short.body"
while IFS='|' read -r status what args; do
  # shellcheck disable=SC2086
  got=$(curl -s -o /dev/null -w '%{http_code}' -m 20 $args "$url")
  [ "$got" = "$status" ] || fail "$what: HTTP $got, expected $status"
done <<EOT
415|a file that is not MP3|-F file=@$work/not-audio.mp3 -F language=en
400|a multipart body cut short|-H Content-Type:multipart/form-data;boundary=cut --data-binary @$work/cut-short.body
EOT
curl -fsS -m 5 "http://127.0.0.1:$windows_port/health" >/dev/null || fail "no /health after the bad uploads"
refusal=$("$native/testbed/tools/valdrin-post-wav" 127.0.0.1 "$windows_port" zh "$(librivox_clips 1)" 2>&1) &&
  fail "zh was accepted: $refusal"
[[ $refusal == *"HTTP 422: "* ]] || fail "zh: $refusal"

reference=$(librivox_reference "$clip_count")
linux_text=$(transcribe "$linux_port") || fail "the Linux server did not transcribe"
windows_text=$(transcribe "$windows_port") || fail "the Windows server did not transcribe"
linux_wer=$(word_error_rate "$reference" "$linux_text")
windows_wer=$(word_error_rate "$reference" "$windows_text")
log "reference:      $reference"
log "Linux server:   $linux_text"
log "Windows server: $windows_text"
log "word error rate: Linux ${linux_wer}%, Windows under Wine ${windows_wer}%"
python3 -c "import sys; sys.exit(0 if abs($windows_wer - $linux_wer) <= 5 else 1)" ||
  fail "the word error rates differ by more than 5 points"
log "figures on the same $clip_count clips: peak memory Linux $(peak_memory "$linux_pid") MiB," \
    "Windows under Wine $(peak_memory "$windows_pid") MiB; real-time factor Linux" \
    "$(real_time_factor "$work/linux-server.log"), Windows under Wine $(real_time_factor "$work/windows-server.log")"
stop_server "$linux_pid" || true
linux_pid=""

# The tool from the bundle, as a user runs it, against the Windows server.
sox -n -r 16000 -c 1 -b 16 "$work/silence.wav" trim 0 8
wine "$bundle/valdrin-live.exe" >"$work/app.log" 2>&1 &
app_pid=$!
start_recording "$windows_port"
play "$(librivox_clips 1)"
play "$work/silence.wav"  # completes the chunk that holds the end of the speech
deadline=$((SECONDS + 30))
until [ -n "$(transcripts)" ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "no transcript in the pane: $(pane)"
  sleep 1
done
log "the tool's pane: $(transcripts | tr '\n' ' ')"
drive press stop
wait_for_lines 1 '^\[Info\] Stopping\.\.\.' 10 || fail "no stop: $(pane)"
wine "$drive" close >/dev/null || fail "the window did not close"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "valdrin-live.exe exited with $status"

stop_server "$windows_pid" || fail "the server ended with status $? on Ctrl+C"
windows_pid=""
grep -q '^valdrin-server: stopped' "$work/windows-server.log" || fail "the server did not say it stopped"
log "passed"
