#!/usr/bin/env bash
# Builds and runs every test suite, as CI does:
#   linux        unit and integration tests
#   e2e          the skins in headless Chromium against the linux build's quenforth (tests/e2e)
#   linux-asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer, then its concurrency
#                tests once more beside two busy loops (the stress pass)
#   linux-tsan   the concurrency tests under ThreadSanitizer
#   fuzz         every fuzz target under libFuzzer for 60 s, two at a time (scripts/fuzz.sh)
#   win32        the product DLL and ID3v2Library.dll, checked for their machine, imports, exports and
#                version resource, and the package quenforth-3.0-win32.zip
#   win64-test   the 64-bit DLLs and their package, checked the same way
#   --quick   the linux build's tests only (without e2e)
#   --e2e     the linux build and the browser tests only
#   --stress  the stress pass only (with --quick on the linux build instead of linux-asan)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
source "$root/scripts/wine.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINE_PACKAGES[@]}" "${E2E_PACKAGES[@]}"
cd "$root"

quick=0
stress=0
wine_only=0
e2e_only=0
for argument in "$@"; do
  case "$argument" in
    --quick) quick=1 ;;
    --stress) stress=1 ;;
    --wine) wine_only=1 ;;
    --e2e) e2e_only=1 ;;
    *) echo "usage: scripts/test.sh [--quick] [--stress] [--wine] [--e2e]" >&2; exit 2 ;;
  esac
done
jobs=$(nproc)
started=$SECONDS

step() { echo; echo "=== $* ($((SECONDS - started)) s)"; }

build() {
  cmake --preset "$1" >/dev/null
  cmake --build "build/$1"
}

sanitizer_options=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)

# The busy loops of the stress pass, always ended with the script.
hogs=()
stop_hogs() {
  local hog
  for hog in "${hogs[@]}"; do kill "$hog" 2>/dev/null || true; done
  for hog in "${hogs[@]}"; do wait "$hog" 2>/dev/null || true; done
  hogs=()
}
trap stop_hogs EXIT
trap 'stop_hogs; exit 130' INT TERM

# The concurrency tests of an already built preset, with two processes that keep two cores busy.
stress_pass() {
  step "$1: concurrency tests beside two busy loops"
  local i
  for i in 1 2; do
    bash -c 'while :; do :; done' &
    hogs+=($!)
  done
  env "${sanitizer_options[@]}" ctest --test-dir "build/$1" --output-on-failure -L concurrency -j "$jobs" ||
    { stop_hogs; return 1; }
  stop_hogs
}

# The integration suite of the linux build against fakeamp.exe and the unpacked package of a Windows
# preset, under one X server (scripts/wine.sh); its windows test drives the configuration and user windows.
wine_suite() {
  wine_run "$1" ctest --test-dir build/linux --output-on-failure -R '^test_integration' -j "$jobs"
}

# The browser tests, bounded in time by tests/e2e/run.sh (15 minutes at most; a few on 2 cores).
e2e_suite() {
  QF_QUENFORTH="$root/build/linux/host/quenforth" tests/e2e/run.sh
}

if [ $e2e_only -eq 1 ]; then
  step "linux: build"
  build linux
  step "e2e: the skins in headless Chromium"
  e2e_suite
  step "e2e passed"
  exit 0
fi

if [ $wine_only -eq 1 ]; then
  step "linux and win64-test: build"
  build linux
  build win64-test
  scripts/package.sh win64-test
  step "wine: the integration suite against fakeamp.exe"
  wine_suite win64-test
  step "wine suite passed"
  exit 0
fi

if [ $stress -eq 1 ]; then
  preset=linux-asan
  [ $quick -eq 1 ] && preset=linux
  step "$preset: build"
  build "$preset"
  stress_pass "$preset"
  step "stress pass passed"
  exit 0
fi

step "linux: build and test"
build linux
ctest --test-dir build/linux --output-on-failure -j "$jobs"

if [ $quick -eq 1 ]; then
  step "quick run passed"
  exit 0
fi

step "e2e: the skins in headless Chromium"
e2e_suite

step "linux-asan: build and test"
build linux-asan
env "${sanitizer_options[@]}" ctest --test-dir build/linux-asan --output-on-failure -j "$jobs"
stress_pass linux-asan

step "linux-tsan: build and concurrency tests"
build linux-tsan
# ThreadSanitizer needs the address layout it knows: run without address randomisation.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  setarch "$(uname -m)" -R ctest --test-dir build/linux-tsan --output-on-failure -L concurrency -j "$jobs"

step "fuzz: every target for 60 s, two at a time"
scripts/fuzz.sh 60

# The entry points of the tag reader, which the plug-in looks up by these names.
id3v2library_exports=(ID3v2_Create ID3v2_Load ID3v2_Free ID3v2_GetAsciiText ID3v2_GetAlbumPictureStream
                      ID3v2_GetAlbumPicture ID3v2_FrameCount ID3v2_GetFrameID ID3v2_GetFrameSize ID3v2_GetFrameData
                      ID3v2_GetFrameDataP)

# The plug-in's windows, which it shows from its own resources: the two dialogs and the six server icons.
windows=(--dialog "Quenforth KV7 - Configuration" --dialog "Quenforth - User Management" --icons 6)

step "win32: build and check the product DLL"
build win32
tests/win/check_dll.sh --machine i386 --version-info Quenforth "Quenforth KV7" 3.0 "${windows[@]}" i686-w64-mingw32-objdump \
  build/win32/src/plugin/gen_quen08.dll winampGetGeneralPurposePlugin
tests/win/check_dll.sh --machine i386 i686-w64-mingw32-objdump build/win32/id3v2lib/ID3v2Library.dll \
  "${id3v2library_exports[@]}"
scripts/package.sh win32
tests/win/check_package.sh win32

step "win64-test: build and check"
build win64-test
tests/win/check_dll.sh --machine x86-64 --version-info Quenforth "Quenforth KV7" 3.0 "${windows[@]}" x86_64-w64-mingw32-objdump \
  build/win64-test/src/plugin/gen_quen08.dll winampGetGeneralPurposePlugin
tests/win/check_dll.sh --machine x86-64 x86_64-w64-mingw32-objdump build/win64-test/id3v2lib/ID3v2Library.dll \
  "${id3v2library_exports[@]}"
scripts/package.sh win64-test
tests/win/check_package.sh win64-test

step "wine: the integration suite against fakeamp.exe with the 64-bit package"
wine_suite win64-test

step "all suites passed"
