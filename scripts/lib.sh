# Shared helpers for the project's scripts; sourced, not run.

say() { printf '==> %s\n' "$*" >&2; }

# ensure_packages PKG...: installs the Debian packages that are missing; quick when none is.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Packages of the native build, its tests and benchmarks.
NATIVE_PACKAGES=(cmake g++ make pkg-config libcurl4-openssl-dev libmp3lame-dev nlohmann-json3-dev
                 libgtest-dev libgmock-dev libbenchmark-dev libmpg123-dev libcpp-httplib-dev)

project_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

jobs() { nproc 2>/dev/null || echo 2; }
