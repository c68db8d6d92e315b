#!/usr/bin/env bash
# Pictures of every page of the configuration and user windows, and of the input box, for the README:
# the windows' test of the integration suite takes them under Wine (as scripts/test.sh --wine runs it)
# and keeps them in docs/screenshots/. Builds what it needs first.
#   scripts/screenshots.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
source "$root/scripts/wine.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINE_PACKAGES[@]}"
cd "$root"

cmake --preset linux >/dev/null
cmake --build build/linux --target test_integration quenforth
cmake --preset win64-test >/dev/null
cmake --build build/win64-test
scripts/package.sh win64-test >/dev/null
# A screen of true colours: the default one of xvfb-run has 256.
QF_SCREENSHOTS="$root/docs/screenshots" WINE_SCREEN=1024x768x24 \
  wine_run win64-test build/linux/tests/integration/test_integration --gtest_filter='WindowsTest.*'
ls "$root/docs/screenshots"
