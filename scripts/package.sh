#!/usr/bin/env bash
# Builds the Windows release bundle from this checkout:
#
#   scripts/package.sh        -> out/valdrin-live-<version>-windows-x64.zip (path on stdout)
#
# It installs what it needs, builds the MinGW libraries (scripts/setup-windows.sh, shared
# cache), then valdrin-live.exe and valdrin-server.exe in build/package, and zips them with
# the English model (the pinned MODEL_PACKAGE of lib.sh), the start script, README.txt,
# COPYING.txt (the GPL-3), LICENSE-MIT.txt, THIRD-PARTY-NOTICES.txt and source/: the
# project's source, Debian's source packages of every library in
# valdrin-live.exe and of mpg123, and valdrin-server.exe's relink kit (its other object
# code and link step; packaging/rebuild.sh rebuilds valdrin-live.exe and relinks
# valdrin-server.exe from source/ alone). The
# version comes from CMake (cmake/Version.cmake). Two runs on the same commit give the same bytes,
# wherever the checkout is: the commit's time stamps every file, the build folders are
# mapped out of the binaries, and the zip's entries are sorted.
#
# VALDRIN_LAME_SOURCE / VALDRIN_MPG123_SOURCE (see setup-windows.sh) build with a changed
# library. Outside a git checkout (an unpacked source archive) the version and the time
# stamp come from version.txt.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/../packaging/build_exes.sh"
root=$(project_root)
build=$root/build/package
model=/usr/share/pocketsphinx/model/en-us
start=$SECONDS

ensure_packages "${WINDOWS_PACKAGES[@]}" "${MODEL_PACKAGE%%=*}" git
model_version=$(dpkg-query -W -f='${Version}' "${MODEL_PACKAGE%%=*}")
[ "$model_version" = "${MODEL_PACKAGE#*=}" ] ||
  { say "${MODEL_PACKAGE%%=*} $model_version is installed, but the release ships version ${MODEL_PACKAGE#*=}" \
        "(MODEL_PACKAGE in scripts/lib.sh): install that version, or change the pin"; exit 1; }
deps=$("$root/scripts/setup-windows.sh" | tail -n1)

# A git checkout, or an unpacked source archive (as cmake/Version.cmake tells them apart).
is_checkout() { [ -e "$root/.git" ]; }

# The files of the project's source: what git tracks, or the whole unpacked archive
# (less its version.txt, which is written anew).
source_files() {
  if is_checkout; then
    git -C "$root" ls-files
  else
    (cd "$root" && find . -path ./build -prune -o -path ./out -prune -o -type f -print |
       sed 's|^\./||' | grep -vx version.txt)
  fi
}
epoch=$(release_epoch "$root")
export SOURCE_DATE_EPOCH=$epoch

say "building valdrin-live.exe and valdrin-server.exe in $build"
build_release_exes "$root" "$build" "$deps" ON valdrin-live valdrin-server
version=$(cat "$build/version.txt")
name=valdrin-live-$version-windows-x64

stage=$build/stage
rm -rf "$stage"
mkdir -p "$stage/model/en-us" "$stage/source"
for exe in app/win/valdrin-live.exe server/valdrin-server.exe; do
  "$MINGW_TRIPLET-strip" -o "$stage/${exe##*/}" "$build/$exe"
done
cp -r "$model/en-us" "$model/en-us.lm.bin" "$model/cmudict-en-us.dict" "$stage/model/en-us/"

# Text for Windows: CRLF line ends; the .txt files UTF-8 with a byte-order mark, which
# every Notepad takes for UTF-8 (cmd.exe would read one as part of the first command).
crlf() { sed 's/\r*$/\r/'; }
notepad_text() { printf '\xEF\xBB\xBF'; crlf; }
# fill_in PLACEHOLDER PREFIX TEXT: stdin with each line PLACEHOLDER replaced by TEXT,
# filled to 80 columns, each line starting with PREFIX.
fill_in() {
  local filled
  filled=$(fold -s -w $((80 - ${#2})) <<<"$3" | sed "s/ *\$//; s/^/$2/")
  awk -v placeholder="$1" -v filled="$filled" '$0 == placeholder { print filled; next } { print }'
}
server_terms=$(cat "$root/packaging/server-terms.txt")
sed "s/@VERSION@/$version/g" "$root/packaging/README.txt" | fill_in @SERVER_TERMS@ "" "$server_terms" |
  notepad_text >"$stage/README.txt"
fill_in @SERVER_TERMS@ "echo " "valdrin-server.exe: $server_terms" <"$root/packaging/start-server.cmd" |
  crlf >"$stage/start-server.cmd"
{ echo "This licence covers Valdrin Live's own source code, not the libraries in it."
  echo "The terms of the programs as a whole are in THIRD-PARTY-NOTICES.txt."
  echo
  cat "$root/LICENSE"; } | notepad_text >"$stage/LICENSE-MIT.txt"
notepad_text </usr/share/common-licenses/GPL-3 >"$stage/COPYING.txt"
"$root/packaging/notices.sh" "$deps" "$version" | notepad_text >"$stage/THIRD-PARTY-NOTICES.txt"

# The project's source, with its version, as it was built; and the libraries'.
printf '%s\n%s\n' "$version" "$epoch" >"$build/version-of-source.txt"
source_files | LC_ALL=C sort | tar -C "$root" -c --no-recursion -T - --sort=name --mtime="@$epoch" \
    --owner=0 --group=0 --numeric-owner --mode=u+rw,go+r,go-w --transform="s|^|valdrin-live-$version/|" \
    -f "$build/source.tar"
tar -C "$build" -r -f "$build/source.tar" --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
    --transform="s|^version-of-source.txt|valdrin-live-$version/version.txt|" version-of-source.txt
gzip -n -9 <"$build/source.tar" >"$stage/source/valdrin-live-$version-source.tar.gz"
cp "$deps/source/"* "$stage/source/"

# valdrin-server.exe's relink kit: the object code of all but libmpg123 (without debug
# information) and the link step, which must give the very exe that was built.
kit=$stage/source/valdrin-server-relink
mkdir "$kit"
cp "$build/server/CMakeFiles/valdrin-server.dir/"{main.cpp.obj,valdrin-server_version.rc.res} \
   "$build/server/"libvaldrin_server_{lib,upload}.a "$deps/lib/"lib{pocketsphinx,sphinxbase}.a "$kit/"
"$MINGW_TRIPLET-strip" --strip-debug "$kit/"*.a
sed "s/@SOURCE_DATE_EPOCH@/$epoch/" "$root/packaging/link_server.sh" >"$kit/link.sh"
chmod +x "$kit/link.sh"
"$kit/link.sh" "$deps/lib/libmpg123.a" "$build/relinked-server.exe"
cmp -s "$build/relinked-server.exe" "$stage/valdrin-server.exe" ||
  { say "the relink kit's link step does not give the valdrin-server.exe that was built"; exit 1; }

mkdir -p "$root/out"
python3 "$root/packaging/zip_folder.py" "$stage" "$root/out/$name.zip" "$epoch"
say "packaged out/$name.zip ($(du -k "$root/out/$name.zip" | cut -f1) KiB) in $((SECONDS - start)) s"
printf '%s\n' "$root/out/$name.zip"
