#!/usr/bin/env bash
# Writes the README's pictures into docs/screenshots/, building what it needs first:
#   - the skins base and classic on a phone's and a desktop's viewport, in headless Chromium;
#   - every page of the configuration and user windows, and the input box, which the windows' test of
#     the integration suite takes under Wine (as scripts/test.sh --wine runs it).
#   scripts/screenshots.sh [skins|windows]   (default: both)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
source "$root/scripts/wine.sh"
which="${1:-both}"
cd "$root"

if [ "$which" = both ] || [ "$which" = skins ]; then
  ensure_packages "${RUN_PACKAGES[@]}" "${E2E_PACKAGES[@]}"
  cmake --preset linux >/dev/null
  cmake --build build/linux --target quenforth
  (cd tests/e2e && { node lib/installed.mjs || npm install --no-package-lock --no-audit --no-fund --ignore-scripts \
    --loglevel=error; } && node screenshots.mjs "$root/docs/screenshots")
fi

if [ "$which" = both ] || [ "$which" = windows ]; then
  ensure_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINE_PACKAGES[@]}"
  cmake --preset linux >/dev/null
  cmake --build build/linux --target test_integration quenforth
  cmake --preset win64-test >/dev/null
  cmake --build build/win64-test
  scripts/package.sh win64-test >/dev/null
  # A screen of true colours: the default one of xvfb-run has 256.
  QF_SCREENSHOTS="$root/docs/screenshots" WINE_SCREEN=1024x768x24 \
    wine_run win64-test build/linux/tests/integration/test_integration --gtest_filter='WindowsTest.*'
fi
ls "$root/docs/screenshots"
