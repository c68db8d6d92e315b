#!/usr/bin/env bash
# Builds quenforth and runs the stand-in player with the plug-in on the demo prefix.
#   scripts/run.sh [--prefix DIR] [any option of "quenforth run"]
# The prefix defaults to ./prefix in the checkout; it is installed on first use.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${RUN_PACKAGES[@]}"

cd "$root"
cmake --preset linux >/dev/null
cmake --build build/linux --target quenforth

args=("$@")
if [[ " ${args[*]} " != *" --prefix "* ]]; then
  args=(--prefix "$root/prefix" "${args[@]}")
fi
echo "Press Ctrl+C to stop."
exec build/linux/host/quenforth run "${args[@]}"
