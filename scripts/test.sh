#!/usr/bin/env bash
# Runs every test of the project. Installs what it needs, builds, then tests:
#   1. the portable core, natively, with AddressSanitizer and UndefinedBehaviorSanitizer;
#   2. the cross-thread tests again under ThreadSanitizer.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root=$(project_root)

ensure_packages "${NATIVE_PACKAGES[@]}"

build_and_test() {  # build_and_test DIR SANITIZERS [ctest args...]
  local dir=$1 sanitize=$2; shift 2
  say "building $dir (sanitizers: $sanitize)"
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALDRIN_SANITIZE="$sanitize" >/dev/null
  cmake --build "$root/$dir" -j "$(jobs)"
  say "testing $dir"
  (cd "$root/$dir" && ctest --output-on-failure "$@")
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

build_and_test build/asan address,undefined
build_and_test build/tsan thread -L threads
