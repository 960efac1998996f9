#!/usr/bin/env bash
# Rebuilds valdrin-live.exe and relinks valdrin-server.exe from a release zip's source
# folder alone, fetching nothing. On a Debian 12 it needs only these packages
# (REBUILD_PACKAGES in scripts/lib.sh; the notices pin the toolchain's versions):
# g++-mingw-w64-x86-64-posix, cmake, make, patch, xz-utils, bzip2 and python3, and says
# which are missing. Run from the release's unpacked source
# (source/valdrin-live-VERSION-source.tar.gz):
#
#   packaging/rebuild.sh ZIP_SOURCE_FOLDER OUTPUT_FOLDER
#
# It unpacks the Debian source packages in ZIP_SOURCE_FOLDER (curl, lame, nlohmann-json3,
# mpg123; their checksums are checked against their .dsc), builds them for MinGW with the
# recipes of scripts/setup-windows.sh, builds valdrin-live.exe from this source against
# them, and links valdrin-server.exe with the libmpg123 just built by the relink kit
# (ZIP_SOURCE_FOLDER/valdrin-server-relink/link.sh). Unchanged, both exes are the
# release's, byte for byte. VALDRIN_<PKG>_SOURCE=DIR (e.g. VALDRIN_MPG123_SOURCE) builds
# that library from the changed source tree DIR instead. OUTPUT_FOLDER gets the two exes,
# and work/ with the builds and their logs.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/../scripts/setup-windows.sh"
source "$(dirname "$0")/build_exes.sh"
root=$(project_root)
[ $# -eq 2 ] || { echo "usage: packaging/rebuild.sh ZIP_SOURCE_FOLDER OUTPUT_FOLDER" >&2; exit 2; }
missing=()
for pkg in "${REBUILD_PACKAGES[@]}"; do
  dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null | grep -qx installed || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] || { say "the rebuild needs these Debian packages too: apt-get install ${missing[*]}"; exit 1; }
sources=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
work=$out/work deps=$out/work/deps
start=$SECONDS

rm -rf "$work"
mkdir -p "$work/src" "$deps"
for pkg in "${SHIPPED_SOURCES[@]}"; do
  ls "$sources/${pkg}_"*.dsc >/dev/null 2>&1 || { say "$sources holds no source package of $pkg"; exit 1; }
  cp "$sources/${pkg}_"* "$work/src/"
  override=$(source_override "$pkg")
  if [ -n "$override" ]; then
    say "building $pkg from $override"
    cp -a "$override" "$work/src/$pkg"
  else
    say "building $pkg from $(cd "$work/src" && ls "${pkg}_"*.dsc)"
    unpack_source "$(ls "$work/src/${pkg}_"*.dsc)"
  fi
  "build_${pkg//-/_}" "$work/src/$pkg" "$deps" >"$work/$pkg.log" 2>&1 ||
    { tail -n 40 "$work/$pkg.log" >&2; say "building $pkg failed; full log in $work/$pkg.log"; exit 1; }
done

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(release_epoch "$root")
say "building valdrin-live.exe in $work/build"
build_release_exes "$root" "$work/build" "$deps" OFF valdrin-live
"$MINGW_TRIPLET-strip" -o "$out/valdrin-live.exe" "$work/build/app/win/valdrin-live.exe"
say "linking valdrin-server.exe"
"$sources/valdrin-server-relink/link.sh" "$deps/lib/libmpg123.a" "$out/valdrin-server.exe"
say "rebuilt $out/valdrin-live.exe and $out/valdrin-server.exe in $((SECONDS - start)) s"
