#!/usr/bin/env bash
# Every library linked into the release's exes has its section in the notices. The
# symbols that the unstripped exes define are looked up in every static library the link
# could have taken them from (the MinGW libraries' prefix, GCC's and MinGW-w64's); each
# library that gave any must come from a Debian package that a section heading of
# THIRD-PARTY-NOTICES.txt names ("... package NAME VERSION ..."), as must the
# header-only libraries whose code the exes hold.
#
#   linked_parts_test.sh ZIP BUILD DEPS_PREFIX
#
# BUILD is scripts/package.sh's build folder (build/package), which keeps the exes unstripped.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
zip=$1 build=$2 deps=$3
work=$(mktemp -d /tmp/valdrin-linked.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { printf 'linked parts: FAILED: %s\n' "$*" >&2; failures=$((failures + 1)); }

# The source package of each library in the prefix, and the namespace of each
# header-only library.
DEPS_LIBRARIES=(libcurl.a=curl libmp3lame.a=lame libmpg123.a=mpg123 libsphinxbase.a=sphinxbase
                libpocketsphinx.a=pocketsphinx)
HEADER_ONLY=("nlohmann::=nlohmann-json3" "boost::=boost1.74")

unzip -q -o "$zip" THIRD-PARTY-NOTICES.txt -d "$work"
headings=$(tr -d '\r' <"$work/THIRD-PARTY-NOTICES.txt" | grep '^(Debian source package ')

# defined ARCHIVE...: "SYMBOL ARCHIVE" for each symbol in each archive's index (the global
# symbols its members define, where the linker looks them up), read from the index alone:
# nm on the hundreds of import libraries takes minutes.
defined() {
  python3 - "$@" <<'PY'
import sys
for path in sys.argv[1:]:
    with open(path, 'rb') as archive:
        head = archive.read(8 + 60)
        kind = head[8:24].rstrip()
        if head[:8] != b'!<arch>\n':
            sys.exit(path + ': not an archive')
        if kind not in (b'/', b'/SYM64/'):
            continue  # empty, or without an index, from which the linker takes nothing
        index = archive.read(int(head[8 + 48:8 + 58]))
    width = 4 if kind == b'/' else 8
    count = int.from_bytes(index[:width], 'big')
    for name in index[width + width * count:].split(b'\0')[:count]:
        print(name.decode(), path)
PY
}
gcc_libs=$(dirname "$("$MINGW_CXX" -print-libgcc-file-name)")
{ defined "$deps"/lib/*.a "$gcc_libs"/*.a /usr/"$MINGW_TRIPLET"/lib/*.a
  "$MINGW_TRIPLET-nm" -g -P --defined-only /usr/"$MINGW_TRIPLET"/lib/*.o |
    awk 'NF == 1 && /:$/ {file = substr($1, 1, length($1) - 1); next} {print $1, file}'
} | grep -v '^__imp_' | LC_ALL=C sort -u >"$work/libraries"

for exe in app/win/valdrin-live.exe server/valdrin-server.exe; do
  "$MINGW_TRIPLET-nm" -P --defined-only "$build/$exe" | awk '$2 ~ /^[A-Z]$/ {print $1}' | LC_ALL=C sort -u >"$work/symbols"
  [ -s "$work/symbols" ] || { fail "$exe has no symbols: is it stripped?"; continue; }
  packages=() system=()
  for library in $(LC_ALL=C join "$work/symbols" "$work/libraries" | cut -d' ' -f2 | sort -u); do
    if [[ $library == "$deps"/* ]]; then
      entry=$(printf '%s\n' "${DEPS_LIBRARIES[@]}" | grep "^${library##*/}=" || true)
      [ -n "$entry" ] || { fail "$exe links ${library##*/} of the prefix, of no known source package"; continue; }
      packages+=("${entry#*=}")
    else
      system+=("$library")
    fi
  done
  [ ${#system[@]} -eq 0 ] || mapfile -t -O ${#packages[@]} packages < <(dpkg -S "${system[@]}" | cut -d: -f1)
  "$MINGW_TRIPLET-nm" -C "$build/$exe" >"$work/demangled"
  for entry in "${HEADER_ONLY[@]}"; do
    ! grep -qF -- "${entry%%=*}" "$work/demangled" || packages+=("${entry#*=}")
  done
  mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
  printf 'linked parts: %s holds code of %s\n' "${exe##*/}" "${packages[*]}" >&2
  for package in "${packages[@]}"; do
    grep -qF -- " package $package " <<<"$headings" || fail "$exe holds code of $package, which no section of the notices names"
  done
done

[ "$failures" -eq 0 ] || exit 1
printf 'linked parts: passed\n' >&2
