#!/usr/bin/env bash
# Builds quenforth and writes screenshots of the skins base and classic, on a phone's and a desktop's
# viewport, into docs/screenshots/ (shown in the README).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${E2E_PACKAGES[@]}"
cd "$root"
cmake --preset linux >/dev/null
cmake --build build/linux --target quenforth
cd tests/e2e
node lib/installed.mjs || npm install --no-package-lock --no-audit --no-fund --ignore-scripts --loglevel=error
node screenshots.mjs "$root/docs/screenshots"
