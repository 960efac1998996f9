# shellcheck shell=bash
# Shared by the end-to-end tests with real speech; sourced, not run. The caller defines
# fail MESSAGE, and sets $drive to valdrin-drive.exe before using the window helpers.

speech=/usr/share/pocketsphinx/test/data/librivox

# librivox_clips [N]: the first N of Debian's LibriVox clips (all by default), one path a line.
librivox_clips() {
  head -n "${1:-1000}" "$speech/fileids" | sed "s|.*|$speech/&.wav|"
}

# librivox_reference [N]: what is said in those clips, on one line.
librivox_reference() {
  head -n "${1:-1000}" "$speech/transcription" | sed -e 's/<s>//; s/<\/s>//; s/([^)]*)//' | tr '\n' ' '
}

word_error_rate() {  # word_error_rate REFERENCE HYPOTHESIS -> percentage with one decimal
  python3 - "$1" "$2" <<'PY'
import sys
ref, hyp = sys.argv[1].lower().split(), sys.argv[2].lower().split()
row = list(range(len(hyp) + 1))
for i, r in enumerate(ref, 1):
    prev, row[0] = row[0], i
    for j, h in enumerate(hyp, 1):
        prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (r != h))
print(f"{100.0 * row[-1] / max(len(ref), 1):.1f}")
PY
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# wait_for_server PORT PID [SECONDS]: until /health answers; fails when PID ends first.
wait_for_server() {
  local deadline=$((SECONDS + ${3:-30}))
  until curl -fsS -m 1 "http://127.0.0.1:$1/health" >/dev/null 2>&1; do
    kill -0 "$2" 2>/dev/null || fail "the server did not start"
    [ "$SECONDS" -lt "$deadline" ] || fail "the server did not answer /health within ${3:-30} s"
    sleep 0.2
  done
}

# --- the window, through the driver ---

pane() { wine "$drive" pane | tr -d '\r'; }
# Transcript lines of the pane (everything that is not an [Info]/[Warn]/[Error] line).
transcripts() { pane | grep -v '^\[' | grep -v '^$' || true; }
drive() { wine "$drive" "$@" >/dev/null || fail "driver: $*"; }
# The newest transcript file in the test bed's Wine prefix (Documents may be a link).
newest_transcript() {
  find -L "$WINEPREFIX/drive_c/users" -path '*/Valdrin Live/*.txt' -printf '%T@ %p\n' 2>/dev/null |
    sort -n | tail -n1 | cut -d' ' -f2- | grep .
}
# check_transcript_file FILE PANE_TRANSCRIPTS CHUNK_SECONDS: a byte-order mark, CR LF
# lines "[HH:MM:SS] text" one chunk apart, and the lines with text equal to the pane's.
check_transcript_file() {
  python3 - "$@" <<'EOF'
import re, sys
data = open(sys.argv[1], 'rb').read()
chunk = int(sys.argv[3])
if not data.startswith(b'\xef\xbb\xbf'): sys.exit('no byte-order mark')
lines = data[3:].decode('utf-8').split('\r\n')
if lines[-1] != '': sys.exit('the last line has no CR LF')
entries = [re.fullmatch(r'\[(\d\d):(\d\d):(\d\d)\] (.*)', line) for line in lines[:-1]]
if not entries or not all(entries): sys.exit(f'a line without its time: {lines}')
seconds = [int(e[1]) * 3600 + int(e[2]) * 60 + int(e[3]) for e in entries]
gaps = [(b - a) % 86400 for a, b in zip(seconds, seconds[1:])]
if any(abs(gap - chunk) > 1 for gap in gaps): sys.exit(f'lines not {chunk} s apart: {gaps}')
texts = [e[4] for e in entries if not e[4].startswith('(no text')]
pane = [line for line in open(sys.argv[2], encoding='utf-8').read().split('\n') if line]
if texts != pane: sys.exit(f'file {texts} differs from pane {pane}')
print(f'{len(entries)} lines, {len(texts)} with text, {sorted(set(gaps))} s apart')
EOF
}
play() { paplay --device="$VALDRIN_TESTBED_SINK" "$@"; }

# Waits until the pane has at least $1 lines matching $2, for at most $3 seconds.
wait_for_lines() {
  local want=$1 pattern=$2 deadline=$((SECONDS + $3))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(pane | grep -c -- "$pattern" || true)" -ge "$want" ] && return 0
    sleep 1
  done
  return 1
}

# start_recording PORT: waits for the window, points it at 127.0.0.1:PORT, picks "en"
# and presses Start.
start_recording() {
  local _
  for _ in $(seq 1 60); do wine "$drive" dump >/dev/null 2>&1 && break; sleep 1; done
  drive type port "$1"
  drive lang en
  drive press start
  wait_for_lines 1 '^\[Info\] Recording started (WASAPI, language=en)' 10 || fail "recording did not start: $(pane)"
}
