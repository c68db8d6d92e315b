#!/usr/bin/env bash
# Checks the Windows package of a built preset (scripts/package.sh PRESET): the zip lists exactly the
# player-folder layout in byte order; its DLLs are PE files byte-identical to the build's; no file in
# it is an ELF object; the installation data is data/quenforth's; readme.txt is packaging/readme.txt
# with CR LF line ends; and build/PRESET/package/ holds exactly what the zip unpacks to.
#   tests/win/check_package.sh PRESET
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
[ $# -eq 1 ] || { echo "usage: check_package.sh PRESET"; exit 2; }
preset="$1"
build="$root/build/$preset"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
zip="$build/quenforth-$version-$preset.zip"
[ -n "$version" ] && [ -f "$zip" ] || { echo "FAIL: no package of $preset (run scripts/package.sh $preset)"; exit 1; }

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
status=0
fail() {
  echo "FAIL: $zip: $*"
  status=1
}

# The layout, in the order the zip must list it.
expected="$(
  {
    echo Plugins/gen_quen08.dll
    echo Plugins/quenforth/ID3v2Library.dll
    echo Plugins/quenforth/readme.txt
    (cd "$root/data/quenforth" && find . -type f | sed 's|^\./|Plugins/quenforth/|')
  } | LC_ALL=C sort
)"
listed="$(cmake -E tar tf "$zip")" || { echo "FAIL: $zip cannot be listed"; exit 1; }
if [ "$listed" != "$expected" ]; then
  sorted="$(LC_ALL=C sort <<< "$listed")"
  if [ "$sorted" = "$expected" ]; then
    fail "the entries are not in byte order"
  else
    fail "the entries are not the expected layout:"
    LC_ALL=C comm -23 <(echo "$expected") <(echo "$sorted") | sed 's/^/  missing: /'
    LC_ALL=C comm -13 <(echo "$expected") <(echo "$sorted") | sed 's/^/  unexpected: /'
  fi
fi

(cd "$unpacked" && cmake -E tar xf "$zip") || { echo "FAIL: $zip cannot be unpacked"; exit 1; }

magic() { od -An -tx1 -N 4 "$1" | tr -d ' \n'; }
while IFS= read -r -d '' file; do
  [[ "$(magic "$file")" != 7f454c46 ]] || fail "${file#"$unpacked/"} is an ELF object"
done < <(find "$unpacked" -type f -print0)

same_file() {  # ENTRY SOURCE: the entry is there and byte-identical to SOURCE
  if [ ! -f "$unpacked/$1" ]; then
    fail "$1 is missing"
  elif ! cmp -s "$unpacked/$1" "$2"; then
    fail "$1 differs from $2"
  fi
}
for dll in Plugins/gen_quen08.dll Plugins/quenforth/ID3v2Library.dll; do
  [ ! -f "$unpacked/$dll" ] || [[ "$(magic "$unpacked/$dll")" == 4d5a* ]] || fail "$dll is not a PE file"
done
same_file Plugins/gen_quen08.dll "$build/src/plugin/gen_quen08.dll"
same_file Plugins/quenforth/ID3v2Library.dll "$build/id3v2lib/ID3v2Library.dll"
while IFS= read -r data; do
  same_file "Plugins/quenforth/$data" "$root/data/quenforth/$data"
done < <(cd "$root/data/quenforth" && find . -type f | sed 's|^\./||')

readme="$unpacked/Plugins/quenforth/readme.txt"
if [ -f "$readme" ]; then
  if grep -q $'[^\r]$' "$readme" || grep -q '^$' "$readme"; then
    fail "readme.txt has a line that does not end in CR LF"
  elif ! cmp -s <(sed 's/\r$//' "$readme") "$root/packaging/readme.txt"; then
    fail "readme.txt is not packaging/readme.txt"
  fi
else
  fail "readme.txt is missing"
fi

if ! diff -r "$unpacked" "$build/package" >/dev/null 2>&1; then
  fail "build/$preset/package/ is not what the zip unpacks to"
fi

[ $status -eq 0 ] && echo "ok: $zip holds $(wc -l <<< "$listed") files in the player-folder layout"
exit $status
