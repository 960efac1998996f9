#!/usr/bin/env bash
# The release zip alone rebuilds its exes: unpacked into an empty folder, its source
# folder and relink kit give valdrin-live.exe and valdrin-server.exe byte for byte, with
# no network and no apt-get (only the installed toolchain); the kit links a changed
# libmpg123 too. Also: a pinned source version that Debian's archive does not serve
# stops the set-up, naming it.
#
#   rebuild_from_zip_test.sh ZIP
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
root=$(project_root)
zip=$(realpath "$1")
work=$(mktemp -d /tmp/valdrin-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { say "rebuild from zip: FAILED: $*"; exit 1; }

unpinned=$( (source "$root/scripts/setup-windows.sh" && SOURCE_PACKAGES=(lame=0.0-0) && dsc_lines) 2>&1) &&
  fail "an unserved version was accepted"
[[ $unpinned == *"source package lame version 0.0-0"* ]] || fail "unclear refusal: $unpinned"

mkdir "$work/zip" "$work/no-fetch"
unzip -q "$zip" -d "$work/zip"
tar -xzf "$work/zip/source/"valdrin-live-*-source.tar.gz -C "$work"
printf '#!/bin/sh\necho "$0: nothing may be fetched" >&2; exit 1\n' >"$work/no-fetch/apt-get"
chmod +x "$work/no-fetch/apt-get"
# In a network namespace of its own where one can be made (as its root, for whom tar
# must not hand files to their archived owners).
isolated=()
unshare -rn true 2>/dev/null && isolated=(unshare -rn) || say "no network namespace here; apt-get alone is refused"
PATH=$work/no-fetch:$PATH TAR_OPTIONS=--no-same-owner "${isolated[@]}" \
  "$work"/valdrin-live-*/packaging/rebuild.sh "$work/zip/source" "$work/out" || fail "the rebuild failed"
for exe in valdrin-live.exe valdrin-server.exe; do
  cmp "$work/zip/$exe" "$work/out/$exe" || fail "the rebuilt $exe differs from the zip's"
done

# What the LGPL promises: a changed libmpg123 links into the server by the kit alone.
changed=$work/mpg123-changed
cp -a "$work/out/work/src/mpg123" "$changed"
sed -i 's/Some unknown encoding???/A changed libmpg123 (%i)/' "$changed/src/libmpg123/format.c"
(source "$root/scripts/setup-windows.sh" && build_mpg123 "$changed" "$work/changed-prefix") >"$work/changed.log" 2>&1 ||
  fail "the changed libmpg123 did not build: $(tail -n 20 "$work/changed.log")"
"$work/zip/source/valdrin-server-relink/link.sh" "$work/changed-prefix/lib/libmpg123.a" "$work/changed-server.exe"
grep -qaF 'A changed libmpg123 (%i)' "$work/changed-server.exe" || fail "the relinked server lacks the changed libmpg123"
say "rebuild from zip: passed; both exes are the zip's, byte for byte, and a changed libmpg123 relinks"
