#!/usr/bin/env bash
# Builds and runs every test suite, as CI does:
#   linux        unit and integration tests
#   linux-asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   linux-tsan   the concurrency tests under ThreadSanitizer
#   win32        the product DLL, checked for its imports and export
#   win64-test   the 64-bit DLL, checked the same way
# --quick runs the linux build's tests only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cd "$root"

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=$(nproc)
started=$SECONDS

step() { echo; echo "=== $* ($((SECONDS - started)) s)"; }

build() {
  cmake --preset "$1" >/dev/null
  cmake --build "build/$1"
}

step "linux: build and test"
build linux
ctest --test-dir build/linux --output-on-failure -j "$jobs"

if [ $quick -eq 1 ]; then
  step "quick run passed"
  exit 0
fi

step "linux-asan: build and test"
build linux-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/linux-asan --output-on-failure -j "$jobs"

step "linux-tsan: build and concurrency tests"
build linux-tsan
# ThreadSanitizer needs the address layout it knows: run without address randomisation.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  setarch "$(uname -m)" -R ctest --test-dir build/linux-tsan --output-on-failure -L concurrency -j "$jobs"

step "win32: build and check the product DLL"
build win32
tests/win/check_dll.sh i686-w64-mingw32-objdump build/win32/src/plugin/gen_quen08.dll

step "win64-test: build and check"
build win64-test
tests/win/check_dll.sh x86_64-w64-mingw32-objdump build/win64-test/src/plugin/gen_quen08.dll

step "all suites passed"
