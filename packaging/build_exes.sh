# The one way the release's exes are built, shared by scripts/package.sh and
# packaging/rebuild.sh so that a rebuild elsewhere gives the same bytes; sourced, not run.

# release_epoch ROOT: the release's time, the commit's (or, in an unpacked source
# archive, version.txt's second line). It stamps the exes' headers and the zip's files.
release_epoch() {
  if [ -e "$1/.git" ]; then git -C "$1" log -1 --format=%ct; else sed -n 2p "$1/version.txt"; fi
}

# build_release_exes ROOT BUILD DEPS SERVER TARGET...: the Release cross build of ROOT in
# BUILD against the MinGW libraries in DEPS (VALDRIN_BUILD_SERVER=SERVER), with the three
# folders mapped to fixed names in the binaries, and the TARGETs built. SOURCE_DATE_EPOCH
# must be set: it is the exes' link time.
build_release_exes() {
  local root=$1 build=$2 deps=$3 server=$4
  shift 4
  local paths="-ffile-prefix-map=$root=/valdrin-live -ffile-prefix-map=$build=/valdrin-live/build -ffile-prefix-map=$deps=/deps"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVALDRIN_BUILD_TESTS=OFF -DVALDRIN_BUILD_SERVER="$server" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" -DVALDRIN_DEPS_PREFIX="$deps" \
    -DCMAKE_C_FLAGS="$paths" -DCMAKE_CXX_FLAGS="$paths" >/dev/null
  cmake --build "$build" -j "$(build_jobs)" --target "$@" >/dev/null
}
