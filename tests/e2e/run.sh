#!/usr/bin/env bash
# Runs the browser tests against build/linux/host/quenforth (or QF_QUENFORTH) with Debian's Chromium
# (or QF_CHROMIUM): installs the npm packages pinned in package.json when they are not installed yet, then
# runs every test file, one after the other, the whole run bounded in time.
#   tests/e2e/run.sh [TEST FILE]...
set -euo pipefail
cd "$(dirname "$0")"
if ! node lib/installed.mjs; then
  npm install --no-package-lock --no-audit --no-fund --ignore-scripts --loglevel=error
fi
files=("$@")
[ ${#files[@]} -gt 0 ] || files=(tests/*.test.mjs)
timeout --kill-after=30 900 node --test --test-concurrency=1 --test-timeout=180000 "${files[@]}"
