# Installs the Debian packages a build needs when they are missing. Sourced by run.sh and test.sh.
# Usage: ensure_packages PACKAGE...

ensure_packages() {
  local missing=()
  local package
  local provided
  # What installed packages provide counts as installed: a Node.js package that brings npm with it
  # conflicts with Debian's npm.
  provided="$(dpkg-query -W -f='${Provides}\n' 2>/dev/null | tr ',' '\n' | sed 's/(.*//; s/[[:space:]]//g')"
  for package in "$@"; do
    local status
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    [[ "$status" == *"install ok installed"* ]] || grep -qxF "$package" <<< "$provided" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What the Linux build of quenforth needs.
RUN_PACKAGES=(cmake ninja-build g++ make ccache libboost-dev libtag1-dev zlib1g-dev ca-certificates)
# What the tests and the Windows builds need besides.
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
               binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 clang libclang-rt-14-dev)
# What the integration suite needs to run against the Windows DLL in fakeamp.exe under Wine.
WINE_PACKAGES=(wine64 xvfb xauth)
# What the browser tests need (tests/e2e; npm then installs the packages that tests/e2e/package.json pins).
E2E_PACKAGES=(chromium chromium-driver nodejs npm fonts-dejavu-core)
# What the load benchmarks need.
BENCH_PACKAGES=(wrk nginx-light curl python3)
