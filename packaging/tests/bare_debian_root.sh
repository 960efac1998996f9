#!/usr/bin/env bash
# Makes a bare Debian 12 root: Debian's essential packages (debootstrap's minbase) and
# the PACKAGEs named, with what they depend on, from the Debian archive this machine's apt
# uses; prints its folder as the last line of stdout (all else goes to stderr):
#
#   root=$(packaging/tests/bare_debian_root.sh PACKAGE[=VERSION]... | tail -n1)
#
# Making one takes a few minutes, so roots are kept in $(valdrin_cache_dir)/bare-debian-KEY,
# KEY covering the packages named, the versions apt would install of them, the archive
# and debootstrap's version: the same list is installed once per machine until Debian
# publishes a new version of one of them. A root counts only once its stamp, written
# last, is there; ROOT.stamp lists the packages installed beyond minbase. Concurrent runs
# wait for each other on a lock. Callers must not change a root (mount it read-only).
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/../../scripts/lib.sh"
[ $# -gt 0 ] || { echo "usage: bare_debian_root.sh PACKAGE[=VERSION]..." >&2; exit 2; }
ensure_packages debootstrap
sources=/etc/apt/sources.list.d/debian.sources
mirror=$(sed -n 's/^URIs: *//p' "$sources" | head -n1)
cache=$(valdrin_cache_dir)
mkdir -p "$cache"
exec 9>"$cache/bare-debian.lock"
flock 9

key=$({ printf '%s\n' "$@"; cat "$sources"; debootstrap --version
        apt-cache policy "${@%%=*}" | grep -E '^[^ ]|Candidate:'; } | sha256sum | cut -c1-16)
root=$cache/bare-debian-$key
if [ -f "$root.stamp" ]; then
  say "bare Debian 12 root ready in $root"
else
  start=$SECONDS
  rm -rf "$root" "$root.work"
  say "making a bare Debian 12 root in $root (a few minutes, once per package list)"
  debootstrap --variant=minbase bookworm "$root.work" "$mirror" >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; say "debootstrap failed; its log is $root.log"; exit 1; }
  # The same suites as this machine (updates and security too), so the same versions.
  rm -f "$root.work/etc/apt/sources.list"
  cp "$sources" "$root.work/etc/apt/sources.list.d/"
  minbase=$(chroot "$root.work" dpkg-query -W -f='${Package} ${Version}\n' | sort)
  { chroot "$root.work" apt-get update &&
    DEBIAN_FRONTEND=noninteractive chroot "$root.work" apt-get install -y --no-install-recommends "$@" &&
    chroot "$root.work" apt-get clean; } >>"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; say "installing $* in the root failed; its log is $root.log"; exit 1; }
  mkdir "$root.work/work"
  all=$(chroot "$root.work" dpkg-query -W -f='${Package} ${Version}\n' | sort)
  mv "$root.work" "$root"
  comm -13 <(cat <<<"$minbase") <(cat <<<"$all") >"$root.stamp.tmp"
  mv "$root.stamp.tmp" "$root.stamp"
  say "bare Debian 12 root made in $((SECONDS - start)) s: $(wc -l <"$root.stamp") packages" \
      "beyond minbase, $(du -sm "$root" | cut -f1) MB"
fi
printf '%s\n' "$root"
