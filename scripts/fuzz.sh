#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, ASan and UBSan) and runs a campaign of
# SECONDS (default 60) for each TARGET (default: every target), two at a time (QF_FUZZ_JOBS). Each target
# works in build/fuzz/<target>/: corpus/ holds the inputs that reached new paths and is used again by the
# next run; a crash, a leak or a time-out leaves its input in artifacts/ and makes the script exit non-zero
# once every campaign has ended. Figures of the last run: build/fuzz/<target>/summary.txt.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# An input that found a fault becomes a regression input: copy it to fuzz/regressions/<target>/, where
# ctest replays it in every build (fuzz_replay_<target>).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages cmake ninja-build clang libclang-rt-14-dev libboost-dev libtag1-dev zlib1g-dev
cd "$root"

seconds=60
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
all=()
for source in fuzz/*_fuzzer.cpp; do
  name="${source#fuzz/}"
  all+=("${name%_fuzzer.cpp}")
done
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
for target in "${targets[@]}"; do
  [ -f "fuzz/${target}_fuzzer.cpp" ] || { echo "fuzz.sh: no target $target (targets: ${all[*]})" >&2; exit 2; }
done
jobs="${QF_FUZZ_JOBS:-2}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build="$root/build/fuzz"

# The longest input of each target: a request line and its headers, a page template, a tag.
max_len() {
  case "$1" in
    request | template | id3v2tag) echo 16384 ;;
    inifile | multipart | playlist) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

# One campaign; its status goes to build/fuzz/<target>/status.
campaign() {
  local target=$1
  local work="$build/$target"
  rm -rf "$work/tmp" "$work/artifacts" "$work/status"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  local seeds="$root/fuzz/seeds/$target"
  if [ "$target" = id3v2tag ]; then
    seeds="$work/seeds"
    rm -rf "$seeds"
    "$build/fuzz/make_id3v2tag_seeds" "$seeds"
  fi
  local corpora=("$work/corpus" "$seeds")
  [ -d "$root/fuzz/regressions/$target" ] && corpora+=("$root/fuzz/regressions/$target")
  local status=0
  (
    cd "$work"
    TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -max_len="$(max_len "$target")" -dict="$root/fuzz/$target.dict" -artifact_prefix="$work/artifacts/" \
      -print_final_stats=1 "${corpora[@]}"
  ) >"$work/fuzz.log" 2>&1 || status=$?
  local done_line executions
  done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" | tail -1 || true)"
  executions="$(sed -n 's/^stat::number_of_executed_units: //p' "$work/fuzz.log" | tail -1)"
  {
    echo "target: $target"
    echo "seconds: $seconds"
    echo "executions: ${executions:-?}"
    echo "final: ${done_line:-none}"
    echo "corpus files: $(find "$work/corpus" -type f | wc -l)"
    echo "status: $status"
  } >"$work/summary.txt"
  echo "$status" >"$work/status"
  if [ "$status" -eq 0 ]; then
    echo "fuzz $target: ${seconds} s, ${executions:-?} executions, ${done_line#*DONE   }, no crash, leak or time-out"
  else
    echo "fuzz $target: FAILED (status $status); input in $work/artifacts/, log $work/fuzz.log" >&2
    grep -E '^==[0-9]+==|^SUMMARY|fuzz oracle failed|Test unit written to' "$work/fuzz.log" | head -20 >&2 || true
  fi
}

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  campaign "$target" &
  running=$((running + 1))
done
wait || true

failed=()
for target in "${targets[@]}"; do
  [ "$(cat "$build/$target/status" 2>/dev/null || echo 1)" = 0 ] || failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets, ${seconds} s each, no crash, leak or time-out"
