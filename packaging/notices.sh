#!/usr/bin/env bash
# Writes THIRD-PARTY-NOTICES.txt of the release bundle to stdout: the terms of each exe,
# what each exe and the model folder hold and under which licence, where the complete
# source is and how to rebuild from it, then each part's copyright file and every
# licence text those refer to, taken whole from the Debian packages they were built from.
#
#   packaging/notices.sh DEPS_PREFIX VERSION
#
# DEPS_PREFIX is the folder scripts/setup-windows.sh printed: it holds share/copyright/PKG
# of the libraries it built, and its stamp names their source versions. The toolchain's
# parts come from the installed Debian packages, whose /usr/share/doc/PKG/copyright is
# the source package's debian/copyright.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
deps=$1 version=$2
terms_dir=$(dirname "$0")

# source_version PKG: "PKG VERSION" of a source package the prefix was built from.
source_version() {
  sed -n "s/^# \(${1}\)_\([^ ]*\)\.dsc .*/\1 \2/p" "$deps/valdrin-deps.stamp"
}
# installed_source BINARY_PKG: "SOURCE VERSION, package BINARY_PKG VERSION" of an
# installed package.
installed_source() {
  dpkg-query -W -f='${source:Package} ${source:Version}, package ${Package} ${Version}' "$1"
}
# pinned PKG...: "PKG=VERSION" of each installed package, as apt-get install takes it.
pinned() { dpkg-query -W -f='${Package}=${Version}\n' "$@"; }
# wrapped: stdin filled to lines of at most 80 characters.
wrapped() { fold -s -w 80 | sed 's/ *$//'; }

# Boost's debian/copyright runs to 2 MB over all of Boost; the headers the server is built
# from (Beast, Asio and those they include) are under its BSL-1.0 paragraph, taken alone.
boost_copyright=$(mktemp /tmp/valdrin-boost-copyright.XXXXXX)
trap 'rm -f "$boost_copyright"' EXIT
{ printf 'From /usr/share/doc/libboost1.74-dev/copyright, the licence of Beast, Asio and the Boost\nheaders they include:\n\n'
  # The stand-alone paragraph: "License: BSL-1.0" followed by the licence's indented text.
  awk 'on && !/^ / {exit} on {print; next} prev == "License: BSL-1.0" && /^ / {on = 1; print} {prev = $0}' \
    /usr/share/doc/libboost1.74-dev/copyright | sed 's/^ //; s/^\.$//'
} >"$boost_copyright"

# Each component: title | where it is | its licence, as its copyright file gives it |
# source package | copyright file.
components() {
  cat <<EOT
libcurl|valdrin-live.exe|the curl licence (MIT-style)|$(source_version curl)|$deps/share/copyright/curl
LAME (libmp3lame)|valdrin-live.exe|GNU LGPL version 2 or later; its libmp3lame/fft.c is marked GPL-1+ (GNU GPL, no version given)|$(source_version lame)|$deps/share/copyright/lame
nlohmann-json|valdrin-live.exe and valdrin-server.exe|MIT|$(source_version nlohmann-json3)|$deps/share/copyright/nlohmann-json3
libmpg123|valdrin-server.exe|GNU LGPL version 2.1|$(source_version mpg123)|$deps/share/copyright/mpg123
sphinxbase|valdrin-server.exe|BSD-style (2-clause)|$(source_version sphinxbase)|$deps/share/copyright/sphinxbase
pocketsphinx and its US English model|valdrin-server.exe|BSD-style (2-clause)|$(source_version pocketsphinx)|$deps/share/copyright/pocketsphinx
Boost (Beast and Asio, header-only)|valdrin-server.exe|Boost Software License 1.0|$(installed_source libboost1.74-dev)|$boost_copyright
MinGW-w64 runtime and winpthreads|valdrin-live.exe and valdrin-server.exe|ZPL-2.1, MIT-style (Expat), BSD-style and public domain|$(installed_source mingw-w64-x86-64-dev)|/usr/share/doc/mingw-w64-x86-64-dev/copyright
libstdc++ and libgcc (GCC)|valdrin-live.exe and valdrin-server.exe|GNU GPL version 3 or later with the GCC Runtime Library Exception|$(installed_source g++-mingw-w64-x86-64-posix) (libstdc++.a), package $(pinned gcc-mingw-w64-x86-64-posix | tr = ' ') (libgcc.a, libgcc_eh.a)|/usr/share/doc/g++-mingw-w64-x86-64-posix/copyright
EOT
}

# server_terms: the paragraph on valdrin-server.exe's terms, around the one sentence
# that states them (packaging/server-terms.txt, also in its version resource).
server_terms() {
  wrapped <<EOT
valdrin-server.exe is not under the GPL as a whole. $(cat "$terms_dir/server-terms.txt") \
The list below says which part is under which terms. You may use, copy and pass it on, \
changed or not, keeping these notices with it. The LGPL lets you change libmpg123 and \
link your changed copy into the server: its source and the server's relink kit are in \
the source folder. Whoever passes the server on must pass on libmpg123's source and the \
relink kit with it. Debian's packaging of sphinxbase and pocketsphinx (their debian \
folders) is under the GPL, version 2 or later, and none of it is in the server. Debian's \
patches change no code of sphinxbase's library; of pocketsphinx's, two reach the server's \
code: avoid-underflow, a change from pocketsphinx's own history under its BSD-style \
licence, and a spelling fix in one of mdef.c's messages.
EOT
}

# rebuild_install_command: the apt-get line of every package packaging/rebuild.sh needs,
# the toolchain pinned to the versions that built this release.
rebuild_install_command() {
  local packages pkg
  packages=$(pinned "${TOOLCHAIN_PACKAGES[@]}")
  for pkg in "${REBUILD_PACKAGES[@]}"; do
    [[ " ${TOOLCHAIN_PACKAGES[*]} " == *" $pkg "* ]] || packages+=" $pkg"
  done
  echo "apt-get install" $packages | fold -s -w 76 | sed 's/ *$//; 1!s/^/    /; s/^/  /; $!s/$/ \\/'
}

rule() { printf '%s\n' "================================================================================"; }
# parts_of EXE: the list of the parts in EXE with their licences.
parts_of() {
  local title where licence source file
  printf '  - Valdrin Live'"'"'s own code: MIT (LICENSE-MIT.txt)\n'
  while IFS='|' read -r title where licence source file; do
    [[ $where == *"$1"* ]] && printf '  - %s: %s\n' "$title" "$licence"
  done < <(components)
}

cat <<EOT
Third-party software in Valdrin Live $version
$(rule)

Terms
-----

valdrin-live.exe is distributed under the GNU General Public License, version 3
or (at your option) any later version, as a whole (its text is in COPYING.txt,
and below). It holds LAME, whose file libmp3lame/fft.c Debian marks "GPL-1+": it
names no version of the GPL, so any may be chosen. You may copy, pass on and change valdrin-live.exe
under that licence; whoever passes it on must pass on these notices and its
complete corresponding source (the source folder, below) with it. Valdrin Live's
own source code stays under the MIT licence (LICENSE-MIT.txt), and every part
keeps its own licence, all of which allow this.

$(server_terms)

The model folder (model\\en-us) is the pocketsphinx US English model of
Debian's package ${MODEL_PACKAGE/=/ },
under a BSD-style licence (the pocketsphinx section below).

What each exe holds
-------------------

valdrin-live.exe:
$(parts_of valdrin-live.exe)

valdrin-server.exe:
$(parts_of valdrin-server.exe)

Built with Debian 12's MinGW-w64 cross compiler, these binary packages:
$(pinned "${TOOLCHAIN_PACKAGES[@]}" | tr = ' ' | sed 's/^/  /')
The parts come from these Debian source packages, whose copyright files the
sections below give whole:

EOT
while IFS='|' read -r title where licence source file; do
  printf '  - %s: %s\n' "$title" "$source"
done < <(components)

cat <<EOT

Source, and rebuilding from it
$(rule)

The folder source\\ holds the complete corresponding source of valdrin-live.exe,
and what the LGPL asks for valdrin-server.exe:

  - valdrin-live-$version-source.tar.gz: Valdrin Live's source as it was built,
    with the scripts that build everything (scripts/setup-windows.sh holds each
    library's build recipe, scripts/package.sh builds the release, and
    packaging/rebuild.sh rebuilds valdrin-live.exe and relinks
    valdrin-server.exe from this folder).
  - the Debian source packages (a .dsc file with its tarballs each) of curl, lame,
    nlohmann-json3 and mpg123, exactly those the exes were built from.
  - valdrin-server-relink\\: the object code of everything in valdrin-server.exe
    but libmpg123, and link.sh, its link step.

The MinGW-w64 runtime, libstdc++ and libgcc come with the compiler (Debian's
source packages named above): they are System Libraries in the GPL's sense and
not part of this source.

On a Debian 12 (x86-64) computer, with nothing else fetched, valdrin-live.exe
is rebuilt and valdrin-server.exe relinked from this folder, byte for byte those
of this release, after installing these packages (the toolchain at the versions
this release was built with, which Debian's archive or snapshot.debian.org serve):

$(rebuild_install_command)

  cd source
  tar -xzf valdrin-live-$version-source.tar.gz
  valdrin-live-$version/packaging/rebuild.sh . ../rebuilt

This builds curl, LAME, libmpg123 and nlohmann-json from their .dsc here, then
valdrin-live.exe from the release source, and links valdrin-server.exe from the
relink kit and that libmpg123, into ../rebuilt. To build with your own, changed
copy of a library, unpack it (dpkg-source is in the dpkg-dev package), change it
and name its folder:

  dpkg-source -x --no-check mpg123_*.dsc mpg123-changed      (or lame_*.dsc, ...)
  ... change mpg123-changed ...
  VALDRIN_MPG123_SOURCE=\$PWD/mpg123-changed valdrin-live-$version/packaging/rebuild.sh . ../rebuilt
                  (or VALDRIN_LAME_SOURCE, VALDRIN_CURL_SOURCE, VALDRIN_NLOHMANN_JSON3_SOURCE)

A libmpg123.a built otherwise for 64-bit Windows can be linked in directly:

  valdrin-server-relink/link.sh path/to/libmpg123.a valdrin-server.exe

EOT

while IFS='|' read -r title where licence source file; do
  rule
  printf '%s\n(Debian source package %s: debian/copyright)\n' "$title" "$source"
  rule
  printf '\n'
  cat "$file"
  printf '\n'
done < <(components)

# Every licence text the copyright files above give by its Debian path (GPL and LGPL
# name the newest version), and the GPL-3, valdrin-live.exe's licence.
licences() {
  local file
  while IFS='|' read -r _ _ _ _ file; do
    grep -o '/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]' "$file" || true
  done < <(components)
  echo /usr/share/common-licenses/GPL-3
}
for licence in $(licences | xargs -n1 realpath | xargs -n1 basename | sort -u); do
  rule
  printf 'Full text of /usr/share/common-licenses/%s (from Debian), referred to above\n' "$licence"
  rule
  printf '\n'
  cat "/usr/share/common-licenses/$licence"
  printf '\n'
done
