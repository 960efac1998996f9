#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt of the release bundle to stdout: which third-party
# code each exe and the model folder hold, how to rebuild the exes with a changed LGPL
# library, and the licence texts, taken whole from the Debian copyright files of the
# source packages they were built from.
#
#   packaging/notices.sh DEPS_PREFIX VERSION
#
# DEPS_PREFIX is the folder scripts/setup-windows.sh printed: it holds share/copyright/PKG
# of the libraries it built, and its stamp names their source versions. The others come
# from the installed Debian packages, whose /usr/share/doc/PKG/copyright is the source
# package's debian/copyright.
set -euo pipefail
deps=$1 version=$2

# source_version PKG: "PKG VERSION" of a source package the prefix was built from.
source_version() {
  sed -n "s/^# \(${1}\)_\([^ ]*\)\.dsc .*/\1 \2/p" "$deps/valdrin-deps.stamp"
}
# installed_source BINARY_PKG: "SOURCE VERSION, package BINARY_PKG VERSION" of an
# installed package.
installed_source() {
  dpkg-query -W -f='${source:Package} ${source:Version}, package ${Package} ${Version}' "$1"
}

# Each component: title | what it is and where it is | source package | copyright file.
components() {
  local curl lame mpg123 sphinxbase pocketsphinx httplib
  curl=$(source_version curl) lame=$(source_version lame) mpg123=$(source_version mpg123)
  sphinxbase=$(source_version sphinxbase) pocketsphinx=$(source_version pocketsphinx)
  httplib=$(source_version cpp-httplib)
  cat <<EOT
libcurl|HTTP client, in valdrin-live.exe|$curl|$deps/share/copyright/curl
LAME (libmp3lame)|MP3 encoder, LGPL, in valdrin-live.exe|$lame|$deps/share/copyright/lame
libmpg123|MP3 decoder, LGPL, in valdrin-server.exe|$mpg123|$deps/share/copyright/mpg123
sphinxbase|speech-recognition support library, in valdrin-server.exe|$sphinxbase|$deps/share/copyright/sphinxbase
pocketsphinx and its US English model|speech recogniser, in valdrin-server.exe; the model is the folder model\\en-us (Debian's pocketsphinx-en-us)|$pocketsphinx|$deps/share/copyright/pocketsphinx
cpp-httplib|HTTP server, in valdrin-server.exe|$httplib|$deps/share/copyright/cpp-httplib
nlohmann-json|JSON, in both exes|$(installed_source nlohmann-json3-dev)|/usr/share/doc/nlohmann-json3-dev/copyright
MinGW-w64 runtime and winpthreads|C runtime start-up and thread library, in both exes|$(installed_source mingw-w64-x86-64-dev)|/usr/share/doc/mingw-w64-x86-64-dev/copyright
libstdc++ and libgcc (GCC)|C++ standard library and compiler support, in both exes, under the GCC Runtime Library Exception (in this file's section)|$(installed_source gcc-mingw-w64-x86-64-posix-runtime)|/usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright
EOT
}

rule() { printf '%s\n' "================================================================================"; }

cat <<EOT
Third-party software in Valdrin Live $version
$(rule)

Valdrin Live itself is under the MIT licence (LICENSE). The two exes are linked
statically and hold the following third-party code; the model folder holds the
pocketsphinx US English model. Each section below gives the Debian source package
that the part was built from and its copyright file, whole.

EOT
while IFS='|' read -r title what source file; do
  printf '  - %s: %s\n    (Debian source package %s)\n' "$title" "$what" "$source"
done < <(components)

cat <<EOT

Rebuilding with a changed LAME or libmpg123
$(rule)

LAME (libmp3lame, in valdrin-live.exe; GNU LGPL version 2 or later) and libmpg123
(in valdrin-server.exe; GNU LGPL version 2.1) are linked statically. You may rebuild
both exes with your own, changed copy of either library:

  - The complete source of this release is source\\valdrin-live-$version-source.tar.gz.
    The Debian source packages of LAME and mpg123 it was built with are in source\\
    too (a .dsc file with its tarballs each).
  - On a Debian 12 (x86-64) computer with access to Debian's archive (the build
    fetches the other libraries' sources from it), copy the source folder of this
    zip, unpack the release source and the library source (dpkg-source is in the
    dpkg-dev package), change the library, and run the packaging command with the
    library's folder named:

      cd source
      tar -xzf valdrin-live-$version-source.tar.gz
      dpkg-source -x --no-check lame_*.dsc lame-changed        (or mpg123_*.dsc)
      ... change lame-changed ...
      cd valdrin-live-$version
      VALDRIN_LAME_SOURCE=\$PWD/../lame-changed scripts/package.sh
                                              (or VALDRIN_MPG123_SOURCE=...)

    This installs the build tools with apt, builds the libraries (yours from the
    named folder, with the same recipe) and both exes, and writes a new bundle to
    out/valdrin-live-$version-windows-x64.zip.

EOT

while IFS='|' read -r title what source file; do
  rule
  printf '%s\n(Debian source package %s: debian/copyright)\n' "$title" "$source"
  rule
  printf '\n'
  cat "$file"
  printf '\n'
done < <(components)

# The licences that the copyright files above give by their Debian path, for the code
# linked in: LAME and mpg123 (LGPL; LAME's fft.c is marked GPL-1+) and GCC's runtime
# exception, which amends the GPL-3.
for licence in LGPL-2 LGPL-2.1 GPL-1 GPL-3; do
  rule
  printf 'Full text of /usr/share/common-licenses/%s (from Debian), referred to above\n' "$licence"
  rule
  printf '\n'
  cat "/usr/share/common-licenses/$licence"
  printf '\n'
done
