#!/usr/bin/env bash
# Makes the Windows package of a preset: build/PRESET/quenforth-VERSION-PRESET.zip, which unpacks into the
# player's folder:
#   Plugins/gen_quen08.dll
#   Plugins/quenforth/           the installation data of data/quenforth (skins, mime.ini),
#                                ID3v2Library.dll and readme.txt (with CR LF line ends)
# The unpacked layout stays in build/PRESET/package/, made anew on every run. The preset is configured
# when it has no build folder yet and is brought up to date first.
#   scripts/package.sh win32|win64-test
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -eq 1 ] && [[ "$1" == win32 || "$1" == win64-test ]] || { echo "usage: scripts/package.sh win32|win64-test" >&2; exit 2; }
preset="$1"
cd "$root"

build="build/$preset"
[ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
cmake --build "$build"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt" >&2; exit 1; }
zip="$build/quenforth-$version-$preset.zip"
staging="$build/package"

rm -rf "$staging" "$zip"
mkdir -p "$staging/Plugins/quenforth"
cp "$build/src/plugin/gen_quen08.dll" "$staging/Plugins/"
cp -R data/quenforth/. "$staging/Plugins/quenforth/"
cp "$build/id3v2lib/ID3v2Library.dll" "$staging/Plugins/quenforth/"
# Notepad before Windows 10 shows a file with bare LF line ends as one line.
sed 's/\r$//; s/$/\r/' packaging/readme.txt > "$staging/Plugins/quenforth/readme.txt"

# Files only, in byte order, all with one modification time. (The zip still differs from run to run in
# the access and change times of its extra fields, which come from the staged files.)
cd "$staging"
mapfile -t entries < <(find . -type f | sed 's|^\./||' | LC_ALL=C sort)
# Zip entries hold local times: made in UTC, the time is the same on every build machine.
TZ=UTC cmake -E tar cf "$root/$zip" --format=zip "--mtime=2000-01-01 00:00:00 UTC" -- "${entries[@]}"
echo "$zip"
