#!/usr/bin/env bash
# Builds the answer fuzzer with clang, ASan and UBSan, writes its seeds and fuzzes for
# a while: tests/fuzz/run.sh [SECONDS, default 60]. Findings land in build/fuzz/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=$root/build/fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVALDRIN_BUILD_FUZZ=ON -DVALDRIN_BUILD_TESTS=OFF -DVALDRIN_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j2 --target answer_fuzz

# Seeds: a control byte (0 means status 200), then an answer.
corpus=$build/answer_corpus
mkdir -p "$corpus" "$build/findings"
seed() { printf '\0%s' "$2" >"$corpus/seed-$1"; }
seed text '{"text":"hello"}'
seed segments '{"text":null,"segments":[{"text":" a"},{"text":""},1,{"text":"b"}]}'
seed serialised '{"b":[true,false,null,-1.5e3],"a":{"x":"\u00e9"}}'
# Nested at the bound, and deeper than a worker's stack would survive without it.
seed limit "$(printf '{"a":%.0s' {1..32})1$(printf '}%.0s' {1..32})"
seed deep "$(printf '[%.0s' {1..5000})$(printf ']%.0s' {1..5000})"
seed strings '["[{\"", "\\\\[["]'
printf '\x0f%s' 'not found' >"$corpus/seed-status"

"$build/tests/fuzz/answer_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -dict="$root/tests/fuzz/json.dict" -artifact_prefix="$build/findings/answer-" -print_final_stats=1 "$corpus"
