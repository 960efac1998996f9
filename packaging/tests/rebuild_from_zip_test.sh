#!/usr/bin/env bash
# The release zip alone rebuilds its exes on a bare Debian 12 that holds only what its
# notices tell a rebuilder to install: unpacked into an empty folder, its source folder
# and relink kit give valdrin-live.exe and valdrin-server.exe byte for byte, run in a
# bare root (bare_debian_root.sh) with those packages, read-only, with no network. A
# package the rebuild needs and the notices leave out fails it. The kit links a changed
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

mkdir "$work/zip"
unzip -q "$zip" -d "$work/zip"
tar -xzf "$work/zip/source/"valdrin-live-*-source.tar.gz -C "$work"

# The packages of the notices' apt-get command (its lines end in a backslash but the last).
mapfile -t packages < <(tr -d '\r' <"$work/zip/THIRD-PARTY-NOTICES.txt" |
  awk '/^  apt-get install / {on = 1} on {cont = sub(/\\$/, ""); print; if (!cont) exit}' |
  sed 's/apt-get install//' | tr -s ' ' '\n' | grep .)
[ ${#packages[@]} -gt 0 ] || fail "the notices name no apt-get install command"
say "the notices tell a rebuilder to install: ${packages[*]}"
bare=$("$root/packaging/tests/bare_debian_root.sh" "${packages[@]}" | tail -n1)

# in_bare_root COMMAND...: COMMAND in the bare root, read-only, in a network namespace
# of its own, with $work at /work and a fresh /tmp.
in_bare_root() {
  unshare -m -n bash -c 'set -e; bare=$1 work=$2; shift 2
    mount --bind "$bare" "$bare"; mount -o remount,bind,ro "$bare"
    mount -t tmpfs tmpfs "$bare/tmp"; mount -t proc proc "$bare/proc"; mount --bind "$work" "$bare/work"
    exec chroot "$bare" /usr/bin/env -i HOME=/work PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"' \
    in_bare_root "$bare" "$work" "$@"
}
start=$SECONDS
source_dir=$(cd "$work" && ls -d valdrin-live-*/)
in_bare_root "/work/${source_dir}packaging/rebuild.sh" /work/zip/source /work/out || fail "the rebuild failed"
say "rebuilt in the bare root in $((SECONDS - start)) s"
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
