#!/usr/bin/env bash
# Runs every test of the project. Installs what it needs, builds, then tests:
#   1. the portable core and the local recognition server, natively, with AddressSanitizer
#      and UndefinedBehaviorSanitizer (build/asan);
#   2. the cross-thread tests again under ThreadSanitizer (build/tsan);
#   3. the Windows build (build/win, MinGW-w64): every test exe run by CTest under Wine in
#      a private test bed (Xvfb, PulseAudio, Wine prefix; testbed/testbed.sh), including the
#      whole road with real speech against the local server (built in build/native). The
#      test bed is stopped on any exit; its state folder is kept and named when a test fails;
#   4. the Windows release bundle (scripts/package.sh): its contents and imports, a notices
#      section for every library linked in, both exes rebuilt from the zip's source folder
#      alone in a bare Debian 12 root holding only what the notices list, with nothing
#      fetched (the same bytes), the whole road from the unpacked zip in a test bed of its
#      own, and a second packaging in a clone that must give the same bytes.
#
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    step 1 only: the native core and server tests, a minute or two
set -euo pipefail
source "$(dirname "$0")/lib.sh"
root=$(project_root)

ensure_packages "${NATIVE_PACKAGES[@]}" "${SERVER_PACKAGES[@]}"

build() {  # build DIR CMAKE_ARGS...
  local dir=$1; shift
  say "building $dir"
  cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$root/$dir" -j "$(build_jobs)"
}

run_tests() {  # run_tests DIR [ctest args...]
  local dir=$1; shift
  say "testing $dir"
  (cd "$root/$dir" && ctest --output-on-failure "$@")
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

quick=false
case "${1:-}" in
  --quick) quick=true ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

build build/asan -DVALDRIN_SANITIZE=address,undefined -DVALDRIN_BUILD_SERVER=ON
run_tests build/asan
$quick && exit 0
build build/tsan -DVALDRIN_SANITIZE=thread
run_tests build/tsan -L threads

# The server and tools at full speed for the end-to-end test under Wine.
build build/native -DCMAKE_BUILD_TYPE=Release -DVALDRIN_BUILD_TESTS=OFF -DVALDRIN_BUILD_SERVER=ON
deps=$("$root/scripts/setup-windows.sh" | tail -n1)
build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
  -DVALDRIN_DEPS_PREFIX="$deps" -DVALDRIN_NATIVE_BUILD="$root/build/native"

testbed=$(mktemp -d /tmp/valdrin-testbed.XXXXXX)
finish() {
  local status=$?
  "$root/testbed/testbed.sh" stop "$testbed" || true
  if [ "$status" -eq 0 ]; then
    rm -rf "$testbed"
  else
    say "failed; the test bed's logs are in $testbed"
  fi
}
trap finish EXIT
trap 'exit 130' INT TERM
"$root/testbed/testbed.sh" start "$testbed"
(source "$testbed/env" && run_tests build/win)

bundle=$("$root/scripts/package.sh" | tail -n1)
"$root/packaging/tests/bundle_contents_test.sh" "$bundle"
"$root/packaging/tests/linked_parts_test.sh" "$bundle" "$root/build/package" "$deps"
"$root/packaging/tests/rebuild_from_zip_test.sh" "$bundle"
"$root/packaging/tests/bundle_e2e_test.sh" "$bundle" "$root/build/native" "$root/build/win/tests/win/valdrin-drive.exe"
"$root/packaging/tests/reproducible_test.sh" "$bundle"
