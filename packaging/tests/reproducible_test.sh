#!/usr/bin/env bash
# The release zip is reproducible: packaging the same commit in another folder gives the
# same bytes. The zip of this checkout is compared with one packaged in a fresh clone;
# when the work tree has changes (so that its zip is not the commit's), two clones are
# packaged and compared instead.
#
#   reproducible_test.sh ZIP
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
root=$(project_root)
zip=$1
work=$(mktemp -d /tmp/valdrin-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT

package_clone() {  # package_clone NAME: packages HEAD in a clone at $work/NAME, prints the zip
  git clone -q --no-hardlinks "$root" "$work/$1"
  git -C "$work/$1" checkout -q "$(git -C "$root" rev-parse HEAD)"
  "$work/$1/scripts/package.sh" | tail -n1
}

if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  say "the work tree has changes: comparing two clones of HEAD"
  zip=$(package_clone first)
fi
other=$(package_clone elsewhere-in-a-longer-folder)
if cmp "$zip" "$other"; then
  say "reproducible: $(basename "$zip") is the same in $(dirname "$zip") and $(dirname "$other")"
else
  unzip -q "$zip" -d "$work/a"
  unzip -q "$other" -d "$work/b"
  diff -rq "$work/a" "$work/b" >&2 || true
  say "FAILED: two packagings of the same commit differ"
  exit 1
fi
