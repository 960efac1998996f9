# Shared helpers for the project's scripts; sourced, not run.

say() { printf '==> %s\n' "$*" >&2; }

# ensure_packages PKG...: installs the Debian packages that are missing; quick when none is.
ensure_packages() {
  local installed missing=() p
  installed=" $(dpkg-query -W -f='${db:Status-Status}:${Package} ' "$@" 2>/dev/null || true)"
  for p in "$@"; do
    [[ $installed == *" installed:$p "* ]] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# apt_get ARGS...: apt-get as root that outlasts other apt runs holding the locks
# (several builds on one machine install at the same time).
apt_get() {
  local sudo="" try
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  for try in 1 2 3 4 5 6; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=300 "$@" && return 0
    [ "$try" -lt 6 ] && { say "apt-get $1 failed (attempt $try), retrying in 10 s"; sleep 10; }
  done
  return 1
}

# Packages of the native build, its tests and benchmarks.
NATIVE_PACKAGES=(cmake g++ make pkg-config libcurl4-openssl-dev libmp3lame-dev nlohmann-json3-dev
                 libgtest-dev libgmock-dev libbenchmark-dev libmpg123-dev libcpp-httplib-dev)

# Packages of the local recognition server, its tests (HAProxy in front of two servers)
# and the end-to-end test's speech.
SERVER_PACKAGES=(libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx-testdata
                 libboost1.74-dev libcpp-httplib-dev libmpg123-dev nlohmann-json3-dev curl python3-minimal sox haproxy)

# Packages of the Windows cross build and its test bed (Wine, Xvfb, PulseAudio), of
# fetching and building Debian's sources of the libraries built for MinGW, and of the
# release bundle (its icon, its tests; python3 for the manifest's XML check).
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
                  cmake make patch xz-utils bzip2 dpkg-dev autoconf automake libtool bison
                  googletest libboost1.74-dev nlohmann-json3-dev
                  wine wine64 fonts-wine xvfb xauth x11-utils xdotool imagemagick
                  pulseaudio pulseaudio-utils python3-minimal python3 unzip)
# What packaging/rebuild.sh needs on a bare Debian 12 beside its essential packages, and
# the notices list for whoever rebuilds: the cross compiler (it brings binutils and the
# MinGW-w64 runtime), CMake and make, patch and the unpackers of Debian's source packages,
# and python3, which draws valdrin-live.exe's icon.
REBUILD_PACKAGES=(g++-mingw-w64-x86-64-posix cmake make patch xz-utils bzip2 python3)
# The toolchain whose exact binary versions the exes' bytes depend on.
TOOLCHAIN_PACKAGES=(gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
                    binutils-mingw-w64-x86-64)
# The English model shipped in the release's model folder: this package at this version.
MODEL_PACKAGE=pocketsphinx-en-us=0.8+5prealpha+1-15
MINGW_TRIPLET=x86_64-w64-mingw32
MINGW_CC=$MINGW_TRIPLET-gcc-posix
MINGW_CXX=$MINGW_TRIPLET-g++-posix

# Caches shared by every checkout on this machine (MinGW libraries, Wine prefixes).
valdrin_cache_dir() { printf '%s\n' "${VALDRIN_CACHE_DIR:-/var/cache/valdrin}"; }

project_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

build_jobs() { nproc 2>/dev/null || echo 2; }
