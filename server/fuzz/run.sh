#!/usr/bin/env bash
# Builds the upload fuzzer with clang, ASan and UBSan, writes its seeds and fuzzes
# for a while: server/fuzz/run.sh [SECONDS, default 60]. Findings land in
# build/fuzz/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=$root/build/fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVALDRIN_BUILD_SERVER=ON -DVALDRIN_BUILD_FUZZ=ON -DVALDRIN_BUILD_TESTS=OFF \
  -DVALDRIN_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j2 --target upload_fuzz upload_fuzz_seeds

mkdir -p "$build/corpus" "$build/findings"
"$build/server/fuzz/upload_fuzz_seeds" "$build/corpus"
"$build/server/fuzz/upload_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 "$build/corpus"
