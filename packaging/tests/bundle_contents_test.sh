#!/usr/bin/env bash
# What the release zip holds: every file a user needs, exes that import only DLLs every
# Windows 10 and 11 has and carry the application manifest, no build folder named inside
# them, text files as Notepad reads them, the model at its pinned version, and the
# server's terms, the one sentence of packaging/server-terms.txt, wherever they are given.
#
#   bundle_contents_test.sh ZIP
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
root=$(project_root)
zip=$1
work=$(mktemp -d /tmp/valdrin-contents.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf 'bundle contents: FAILED: %s\n' "$*" >&2; failures=$((failures + 1)); }

# System DLLs of every Windows 10 and 11 installation that the exes may import.
ALLOWED_DLLS="KERNEL32.dll msvcrt.dll USER32.dll GDI32.dll ole32.dll OLEAUT32.dll AVRT.dll
              ADVAPI32.dll WS2_32.dll MSWSOCK.dll CRYPT32.dll bcrypt.dll WINMM.dll SHLWAPI.dll SHELL32.dll"
# Patterns of paths every bundle holds.
REQUIRED="valdrin-live.exe valdrin-server.exe start-server.cmd README.txt COPYING.txt LICENSE-MIT.txt
          THIRD-PARTY-NOTICES.txt model/en-us/en-us.lm.bin model/en-us/cmudict-en-us.dict
          model/en-us/en-us/mdef model/en-us/en-us/means source/valdrin-live-*-source.tar.gz
          source/curl_*.dsc source/lame_*.dsc source/nlohmann-json3_*.dsc source/mpg123_*.dsc
          source/valdrin-server-relink/link.sh source/valdrin-server-relink/libsphinxbase.a"
# Sections of THIRD-PARTY-NOTICES.txt, one per part linked in (and the model).
SECTIONS=("libcurl" "LAME (libmp3lame)" "libmpg123" "sphinxbase" "pocketsphinx and its US English model"
          "Boost (Beast and Asio, header-only)" "nlohmann-json" "MinGW-w64 runtime and winpthreads" "libstdc++ and libgcc (GCC)")

unzip -q "$zip" -d "$work"
listing=$(cd "$work" && find . -type f | sed 's|^\./||')
for pattern in $REQUIRED; do
  grep -qx -- "$(sed 's/[.]/[.]/g; s/\*/.*/g' <<<"$pattern")" <<<"$listing" || fail "no $pattern in the zip"
done

for exe in valdrin-live.exe valdrin-server.exe; do
  imports=$("$MINGW_TRIPLET-objdump" -p "$work/$exe" | sed -n 's/^\tDLL Name: //p')
  printf 'bundle contents: %s imports %s\n' "$exe" "$(tr '\n' ' ' <<<"$imports")" >&2
  for dll in $imports; do
    [[ " $(tr -s ' \n' ' ' <<<"$ALLOWED_DLLS") " == *" $dll "* ]] || fail "$exe imports $dll"
  done
  # Resource 1 of type RT_MANIFEST (24), and the exe holds cmake/app.manifest, well-formed.
  "$MINGW_TRIPLET-windres" -J coff -i "$work/$exe" -O rc -o "$work/$exe.rc" && grep -q '^1 24 ' "$work/$exe.rc" ||
    fail "$exe has no manifest resource 1"
  python3 -c 'import sys, xml.etree.ElementTree as xml
manifest = open(sys.argv[1], "rb").read()
xml.fromstring(manifest)
sys.exit(manifest not in open(sys.argv[2], "rb").read())' "$root/cmake/app.manifest" "$work/$exe" ||
    fail "$exe does not hold cmake/app.manifest, or that is not well-formed XML"
  for path in "$root" "$(valdrin_cache_dir)"; do
    ! grep -qaF -- "$path" "$work/$exe" || fail "$exe names the build path $path"
  done
done

# Every text file at the top: UTF-8 with a byte-order mark and CRLF line ends only.
for text in $(grep -x '[^/]*\.txt' <<<"$listing"); do
  python3 -c 'import sys
data = open(sys.argv[1], "rb").read()
data.decode("utf-8")
sys.exit(not data.startswith(b"\xef\xbb\xbf") or data.count(b"\n") != data.count(b"\r\n"))' "$work/$text" ||
    fail "$text is not UTF-8 with a byte-order mark and CRLF line ends"
done
[ "$(head -c 3 "$work/start-server.cmd" | od -An -tx1 | tr -d ' ')" != efbbbf ] ||
  fail "start-server.cmd starts with a byte-order mark, which cmd.exe would take for part of a command"
grep -q 'GNU GENERAL PUBLIC LICENSE' "$work/COPYING.txt" && grep -q 'Version 3, 29 June 2007' "$work/COPYING.txt" ||
  fail "COPYING.txt is not the GPL-3"
sed -n 1p "$work/LICENSE-MIT.txt" | grep -q "covers Valdrin Live's own source code" || fail "LICENSE-MIT.txt does not say first what it covers"

for section in "${SECTIONS[@]}"; do
  grep -qxF -- "$section"$'\r' "$work/THIRD-PARTY-NOTICES.txt" || fail "no licence section \"$section\""
done
# Each source package at its pinned version: named so in the notices, and in the zip
# when it is shipped.
(source "$root/scripts/setup-windows.sh"
 for ref in "${SOURCE_PACKAGES[@]}"; do
   pkg=${ref%%=*} version=${ref#*=}
   grep -qF "Debian source package $pkg $version:" "$work/THIRD-PARTY-NOTICES.txt" || fail "the notices do not name $pkg $version"
   [[ " ${SHIPPED_SOURCES[*]} " != *" $pkg "* ]] || [ -f "$work/source/${pkg}_${version#*:}.dsc" ] ||
     fail "no source/${pkg}_${version#*:}.dsc in the zip"
 done
 exit "$failures") || failures=$((failures + $?))

# Licence texts, and the terms stated in the notices, the README and the exes.
for text in 'GNU LESSER GENERAL PUBLIC LICENSE' 'GCC RUNTIME LIBRARY EXCEPTION' 'Boost Software License - Version 1.0' \
            'common-licenses/GPL-2 (from Debian)' \
            'common-licenses/GPL-3 (from Debian)' 'valdrin-live.exe is distributed under the GNU General Public License'; do
  grep -qF -- "$text" "$work/THIRD-PARTY-NOTICES.txt" || fail "the notices lack \"$text\""
done
model=${MODEL_PACKAGE%%=*} model_version=${MODEL_PACKAGE#*=}
grep -qF "package $model $model_version," "$work/THIRD-PARTY-NOTICES.txt" || fail "the notices do not name the model, $model $model_version"
cmp -s "$work/model/en-us/en-us/mdef" "/usr/share/pocketsphinx/model/en-us/en-us/mdef" &&
  [ "$(dpkg-query -W -f='${Version}' "$model")" = "$model_version" ] || fail "the model is not that of $model $model_version"
grep -qF 'GNU General Public License' "$work/README.txt" || fail "README.txt states no GPL terms"
grep -qF 'Extract All' "$work/README.txt" || fail "README.txt does not say to extract the zip first"

# The server's terms: the same sentence, however each place wraps it.
terms=$(tr -s ' \n' ' ' <"$root/packaging/server-terms.txt" | sed 's/ $//')
flat() { tr -d '\r' | sed 's/^echo //; s/^> //' | tr -s ' \n' ' '; }
for place in "$work/THIRD-PARTY-NOTICES.txt" "$work/README.txt" "$work/start-server.cmd" "$root/README.md"; do
  flat <"$place" | grep -qF -- "$terms" || fail "${place##*/} does not state the server's terms as packaging/server-terms.txt does"
done
! grep -qiF 'BSD, MIT and LGPL' "$work/README.txt" "$root/README.md" "$work/THIRD-PARTY-NOTICES.txt" ||
  fail "an old summary of the server's terms is left"
while IFS='|' read -r exe text; do
  python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
    "$work/$exe" "$text" || fail "$exe's version resource lacks \"$text\""
done <<EOT
valdrin-live.exe|GNU GPL version 3 or later as a whole
valdrin-live.exe|own code is MIT
valdrin-server.exe|$terms See THIRD-PARTY-NOTICES.txt.
EOT

[ "$failures" -eq 0 ] || exit 1
printf 'bundle contents: passed (%s files, %s KiB)\n' "$(wc -l <<<"$listing")" "$(du -k "$zip" | cut -f1)" >&2
