#!/usr/bin/env bash
# Builds the fuzz target of ID3v2Library's tag parser with clang into build/fuzz/ and runs it for
# SECONDS (default 60) from the seed corpus that make_seeds writes; exits non-zero on a crash, a leak
# or a time-out, leaving the input that caused it in build/fuzz/. Inputs that reach new paths collect
# in build/fuzz/corpus and are used again by the next run.
#   fuzz/run.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
out="$root/build/fuzz"
mkdir -p "$out/corpus"

flags=(-std=c++20 -g -O1 -Wall -Wextra -Werror -fno-omit-frame-pointer)
clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root/id3v2lib" \
  "$root/fuzz/id3v2tag_fuzzer.cpp" "$root/id3v2lib/id3v2tag.cpp" "$root/id3v2lib/id3v2tag_picture.cpp" \
  "$root/id3v2lib/id3v2tag_text.cpp" "$root/id3v2lib/textencoding.cpp" -o "$out/id3v2tag_fuzzer"
clang++ "${flags[@]}" -I"$root/tests/id3v2lib" "$root/fuzz/make_seeds.cpp" -o "$out/make_seeds"
rm -rf "$out/seeds"
"$out/make_seeds" "$out/seeds"

cd "$out"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ./id3v2tag_fuzzer -max_total_time="$seconds" -timeout=10 \
  -max_len=16384 -rss_limit_mb=2048 -dict="$root/fuzz/id3v2.dict" -artifact_prefix="$out/" -print_final_stats=1 \
  corpus seeds
