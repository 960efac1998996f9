#!/usr/bin/env bash
# Prepares this Debian 12 machine for the Windows build and its test bed, then prints
# the folder of the MinGW libraries as the LAST line of stdout (all else goes to stderr):
#
#   VALDRIN_DEPS_PREFIX=$(scripts/setup-windows.sh | tail -n1)
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DVALDRIN_DEPS_PREFIX="$VALDRIN_DEPS_PREFIX"
#
# It installs the cross compiler, Wine, Xvfb and PulseAudio (WINDOWS_PACKAGES in lib.sh)
# and builds static MinGW libraries from Debian's source packages of curl (libcurl, HTTP
# only: no TLS, compression, IDN, HTTP/2, PSL or SSH), lame (libmp3lame, encoder only),
# mpg123 (libmpg123: the server's and the tests' decoder), sphinxbase and pocketsphinx
# (the server's recogniser), into
#
#   $(valdrin_cache_dir)/mingw-deps-<key>     (/var/cache/valdrin unless VALDRIN_CACHE_DIR)
#
# holding include/, lib/lib{curl,mp3lame,mpg123,sphinxbase,pocketsphinx}.a (and pkg-config
# files under lib/pkgconfig, libmpg123.pc among them), json-include/nlohmann/ (the headers
# of nlohmann-json's source package, apart from /usr/include, which MinGW must not see),
# share/copyright/PKG (each source package's debian/copyright) and source/ (the Debian
# source files of what valdrin-live.exe is built from, and of mpg123, which travel with
# the programs). Objects name their sources as /src/PKG/..., not by the cache path.
#
# Each source package is fetched at the version pinned in SOURCE_PACKAGES, the version the
# release notices name; one the archive no longer serves stops the set-up with an error.
#
# VALDRIN_<PKG>_SOURCE=DIR (e.g. VALDRIN_LAME_SOURCE, VALDRIN_MPG123_SOURCE) builds PKG
# from the unpacked source tree DIR instead of Debian's, with the same recipe; DIR's
# contents are part of the key. The key covers
# the pinned source versions, the compiler and the build recipes, so every checkout on the
# machine shares one build per key. A prefix is used only if its stamp, written last,
# carries the key and the checksums of its files and they all match; anything else is
# rebuilt from scratch. Concurrent runs wait for each other on a lock.
#
# Sourced (packaging/rebuild.sh does), it only defines the recipes and runs nothing.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The Debian source packages built for MinGW, each at the one version this release is
# built from and its notices name. Moving to another version is a change of this list.
SOURCE_PACKAGES=(curl=7.88.1-10+deb12u15 lame=3.100-6 mpg123=1.31.2-1+deb12u1
                 sphinxbase=0.8+5prealpha+1-16 pocketsphinx=0.8+5prealpha+1-15
                 nlohmann-json3=3.11.2-2)
# Those whose source files travel in the release zip: everything valdrin-live.exe is
# built from (the GPL asks for all of it), and mpg123, the LGPL part of valdrin-server.exe.
SHIPPED_SOURCES=(curl lame nlohmann-json3 mpg123)

# source_names: the packages' names, without versions.
source_names() { printf '%s\n' "${SOURCE_PACKAGES[@]%%=*}"; }

# dsc_lines: the .dsc lines ("URI NAME SIZE SHA256:...") apt would fetch for the pinned
# source packages; adds a deb-src copy of Debian's sources (once, as its own file) when
# apt has no source index yet. Fails naming each package whose version the archive does
# not serve.
dsc_lines() {
  local out ref
  if ! out=$(apt-get source --print-uris "${SOURCE_PACKAGES[@]}" 2>/dev/null); then
    local src=/etc/apt/sources.list.d/valdrin-deb-src.sources
    if [ ! -e "$src" ]; then
      say "adding Debian's source index ($src)"
      sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$src.tmp"
      mv "$src.tmp" "$src"
    fi
    apt_get update -qq >&2
    if ! out=$(apt-get source --print-uris "${SOURCE_PACKAGES[@]}" 2>/dev/null); then
      for ref in "${SOURCE_PACKAGES[@]}"; do
        apt-get source --print-uris "$ref" >/dev/null 2>&1 ||
          say "Debian's archive does not serve the source package ${ref%%=*} version ${ref#*=}," \
              "the version this release is pinned to (SOURCE_PACKAGES in scripts/setup-windows.sh)"
      done
      return 1
    fi
  fi
  grep '\.dsc ' <<<"$out"
}

# The recipes take the unpacked source folder and the install prefix; their text is part
# of the cache key, so changing a flag rebuilds.

# source_path_map SRC: the compiler flag that names SRC's files /src/NAME in the objects.
source_path_map() { printf '%s' "-ffile-prefix-map=$1=/src/${1##*/}"; }

# Without TLS curl needs no CA certificates; left to itself its CMake would compile in the
# building machine's certificate paths when it finds them.
build_curl() {
  local src=$1 prefix=$2
  cmake -S "$src" -B "$src/build-mingw" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS="$(source_path_map "$src")" \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$MINGW_CC" \
    -DCMAKE_RC_COMPILER="$MINGW_TRIPLET-windres" \
    -DCMAKE_FIND_ROOT_PATH="/usr/$MINGW_TRIPLET" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_ENABLE_SSL=OFF -DCURL_USE_OPENSSL=OFF -DCURL_USE_SCHANNEL=OFF \
    -DCURL_USE_MBEDTLS=OFF -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF -DCURL_USE_WOLFSSL=OFF \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF \
    -DUSE_QUICHE=OFF -DUSE_MSH3=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DENABLE_ARES=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
  && cmake --build "$src/build-mingw" -j "$(build_jobs)" \
  && cmake --install "$src/build-mingw"
}

build_lame() {
  local src=$1 prefix=$2
  (cd "$src" && ./configure --host="$MINGW_TRIPLET" CC="$MINGW_CC" --prefix="$prefix" \
     CPPFLAGS="$(source_path_map "$src")" --disable-frontend --disable-decoder --enable-static --disable-shared \
   && make -j "$(build_jobs)" && make install)
}

build_mpg123() {
  local src=$1 prefix=$2
  (cd "$src" && ./configure --host="$MINGW_TRIPLET" CC="$MINGW_CC" --prefix="$prefix" \
     CPPFLAGS="$(source_path_map "$src")" --enable-static --disable-shared --disable-modules --with-audio=dummy \
     --disable-network --with-cpu=x86-64 \
   && make -j "$(build_jobs)" src/libmpg123/libmpg123.la \
   && install -D -m 644 -t "$prefix/lib" src/libmpg123/.libs/libmpg123.a \
   && install -D -m 644 -t "$prefix/include" src/libmpg123/mpg123.h src/libmpg123/fmt123.h \
   && mkdir -p "$prefix/lib/pkgconfig" \
   && static_pc libmpg123.pc >"$prefix/lib/pkgconfig/libmpg123.pc")
}

# Debian's patches touch the autotools files, hence autoreconf. Only the libraries and
# their headers are built and installed. pocketsphinx compiles a default model folder
# under its prefix into the library: it is built with Debian's prefix, so that the
# cache's path is not in it (the server always names its model files).
build_sphinxbase() {
  local src=$1 prefix=$2
  (cd "$src" && autoreconf -fi && ./configure --host="$MINGW_TRIPLET" CC="$MINGW_CC" --prefix="$prefix" \
     CPPFLAGS="$(source_path_map "$src")" --enable-static --disable-shared --without-python --without-lapack \
   && make -j "$(build_jobs)" -C src/libsphinxbase && make -C src/libsphinxbase install && make -C include install)
}

build_pocketsphinx() {
  local src=$1 prefix=$2
  (cd "$src" && autoreconf -fi && ./configure --host="$MINGW_TRIPLET" CC="$MINGW_CC" --prefix="$prefix" \
     CPPFLAGS="$(source_path_map "$src")" --enable-static --disable-shared --without-python \
     --with-sphinxbase="$src/../sphinxbase" \
   && make -j "$(build_jobs)" -C src/libpocketsphinx prefix=/usr && make -C src/libpocketsphinx install && make -C include install)
}

# Header-only; in a folder of its own, since the host's copy sits beside host headers.
build_nlohmann_json3() {
  mkdir -p "$2/json-include" && cp -r "$1/include/nlohmann" "$2/json-include/"
}

# static_pc FILE: a pkg-config file with its private libraries made public, since the
# prefix holds only static libraries and every consumer needs them.
static_pc() {
  local private
  private=$(sed -n 's/^Libs.private: *//p' "$1")
  sed -e "s|^Libs: .*|& $private|" -e '/^Libs.private:/d' "$1"
}

# fetch_source PKG=VERSION DIR: downloads a source package at that version into DIR and
# unpacks it as DIR/PKG (unpack_source).
fetch_source() {
  local source_ref=$1 dir=$2 pkg=${1%%=*} version=${1#*=}
  (cd "$dir" && apt-get source -qq --download-only "$source_ref" >/dev/null 2>&1) || true
  [ -f "$dir/${pkg}_${version#*:}.dsc" ] || { say "$pkg $version was not downloaded"; return 1; }
  unpack_source "$dir/${pkg}_${version#*:}.dsc"
}

# unpack_source DSC: unpacks the source package DSC names, beside it, as DIR/PKG with its
# Debian patches applied. Unpacked by hand because Debian's mirror may lack upstream
# signature files (.asc) that dpkg-source insists on; every file that is present is
# checked against the checksums in the .dsc (which apt has verified when it fetched it).
unpack_source() {
  local dsc=$1 dir=${1%/*} pkg
  pkg=$(sed -n 's/^Source: //p' "$dsc")
  grep -q '^Format: 3.0 (quilt)' "$dsc" || { say "$dsc: unsupported source format"; return 1; }
  local sums
  sums=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc" | awk '{print $1 "  " $3}')
  while read -r sum file; do
    if [ ! -e "$dir/$file" ]; then
      [[ $file == *.asc ]] && continue
      say "$pkg: $file was not downloaded"; return 1
    fi
    echo "$sum  $file" | (cd "$dir" && sha256sum -c --quiet -) || return 1
  done <<<"$sums"
  local orig debian patches=() patch
  orig=$(ls "$dir/${pkg}_"*.orig.tar.* | grep -v '\.asc$')
  debian=$(ls "$dir/${pkg}_"*.debian.tar.*)
  mkdir "$dir/$pkg"
  tar -xf "$orig" -C "$dir/$pkg" --strip-components=1 || return 1
  tar -xf "$debian" -C "$dir/$pkg" || return 1
  [ ! -f "$dir/$pkg/debian/patches/series" ] ||
    mapfile -t patches < <(grep -v '^\s*\(#\|$\)' "$dir/$pkg/debian/patches/series" | awk '{print $1}')
  for patch in "${patches[@]}"; do
    patch -d "$dir/$pkg" -p1 -s --no-backup-if-mismatch <"$dir/$pkg/debian/patches/$patch" \
      || { say "$pkg: Debian patch $patch does not apply"; return 1; }
  done
}

# Files the build must have produced, relative to the prefix.
PREFIX_FILES=(lib/libcurl.a include/curl/curl.h lib/libmp3lame.a include/lame/lame.h
              lib/libmpg123.a include/mpg123.h include/fmt123.h lib/pkgconfig/libmpg123.pc
              lib/libsphinxbase.a include/sphinxbase/cmd_ln.h lib/libpocketsphinx.a
              include/pocketsphinx/pocketsphinx.h json-include/nlohmann/json.hpp
              $(source_names | sed 's|^|share/copyright/|'))

# source_override PKG: the folder VALDRIN_<PKG>_SOURCE names, or nothing.
source_override() {
  local var
  var=VALDRIN_$(tr 'a-z-' 'A-Z_' <<<"$1")_SOURCE
  printf '%s' "${!var:-}"
}

# tree_digest DIR: one checksum over the names and contents of every file in DIR.
tree_digest() {
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -c1-64)
}

# prefix_is_complete PREFIX KEY: the stamp names KEY and every file matches its checksum.
prefix_is_complete() {
  local prefix=$1 key=$2 stamp=$1/valdrin-deps.stamp
  [ -f "$stamp" ] && [ "$(head -n1 "$stamp")" = "key $key" ] || return 1
  (cd "$prefix" && tail -n +2 "$stamp" | grep -v '^#' | sha256sum -c --quiet --strict - >/dev/null 2>&1)
}

build_prefix() {
  local prefix=$1 key=$2 inputs=$3 work=$1.work
  rm -rf "$prefix" "$work"
  mkdir -p "$prefix" "$work/src"
  local source_ref pkg override
  for source_ref in "${SOURCE_PACKAGES[@]}"; do
    say "fetching and unpacking $source_ref"
    fetch_source "$source_ref" "$work/src"
  done
  for pkg in $(source_names); do
    install -D -m 644 "$work/src/$pkg/debian/copyright" "$prefix/share/copyright/$pkg"
  done
  mkdir -p "$prefix/source"
  for pkg in "${SHIPPED_SOURCES[@]}"; do
    cp "$work/src/${pkg}_"* "$prefix/source/"
  done
  for pkg in $(source_names); do
    override=$(source_override "$pkg")
    [ -z "$override" ] && continue
    say "building $pkg from $override instead of Debian's source"
    rm -rf "$work/src/$pkg"
    cp -a "$override" "$work/src/$pkg"
  done
  for pkg in $(source_names); do
    say "building $pkg for MinGW (log: $work/$pkg.log)"
    if ! "build_${pkg//-/_}" "$work/src/$pkg" "$prefix" >"$work/$pkg.log" 2>&1; then
      tail -n 40 "$work/$pkg.log" >&2
      say "building $pkg failed; full log in $work/$pkg.log"
      return 1
    fi
  done
  local f
  for f in "${PREFIX_FILES[@]}"; do
    [ -f "$prefix/$f" ] || { say "the build did not produce $prefix/$f"; return 1; }
  done
  {
    echo "key $key"
    sed 's/^/# /' <<<"$inputs"
    (cd "$prefix" && sha256sum "${PREFIX_FILES[@]}" source/*)
  } >"$prefix/valdrin-deps.stamp.tmp"
  mv "$prefix/valdrin-deps.stamp.tmp" "$prefix/valdrin-deps.stamp"
  rm -rf "$work"
}

main() {
  ensure_packages "${WINDOWS_PACKAGES[@]}"
  local cache
  cache=$(valdrin_cache_dir)
  mkdir -p "$cache"
  exec 9>"$cache/mingw-deps.lock"
  flock 9
  local inputs key prefix pkg override
  inputs=$(dsc_lines | awk '{print $2, $4}'
           dpkg-query -W "${TOOLCHAIN_PACKAGES[@]}"
           declare -f $(compgen -A function build_) source_path_map static_pc fetch_source unpack_source
           declare -p SOURCE_PACKAGES PREFIX_FILES SHIPPED_SOURCES
           for pkg in $(source_names); do
             override=$(source_override "$pkg")
             [ -z "$override" ] || echo "override $pkg $(tree_digest "$override")"
           done)
  key=$(sha256sum <<<"$inputs" | cut -c1-16)
  prefix=$cache/mingw-deps-$key
  if prefix_is_complete "$prefix" "$key"; then
    say "MinGW libraries are ready in $prefix"
  else
    local start=$SECONDS
    say "building the MinGW libraries into $prefix (some minutes, once per machine)"
    build_prefix "$prefix" "$key" "$inputs"
    say "MinGW libraries built in $((SECONDS - start)) s"
  fi
  printf '%s\n' "$prefix"
}

[ "${BASH_SOURCE[0]}" != "$0" ] || main
