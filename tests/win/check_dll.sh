#!/usr/bin/env bash
# Checks a DLL of ours without running it: it is a PE file (for MACHINE, when given: i386 or x86-64),
# it imports only Windows' own libraries (the C++ runtime, libgcc and winpthread are linked in), it
# exports each EXPORT under that exact name, undecorated, and (with --version-info) it carries a
# version resource with these texts, its file and product version VERSION.0.0 (VERSION is major.minor).
#   check_dll.sh [--machine MACHINE] [--version-info PRODUCT DESCRIPTION VERSION] OBJDUMP DLL EXPORT...
# With --dialog CAPTION (repeatable), it carries a dialog resource with that caption, and with --icons N
# at least N icons. The resources are read back with the windres that sits beside OBJDUMP.
set -euo pipefail
usage="usage: check_dll.sh [--machine i386|x86-64] [--version-info PRODUCT DESCRIPTION VERSION] [--dialog CAPTION]...
       [--icons N] OBJDUMP DLL EXPORT..."
machine=""
product=""
description=""
version=""
dialogs=()
icons=0
while [ $# -gt 0 ]; do
  case "$1" in
    --machine) [ $# -ge 2 ] || { echo "$usage"; exit 2; }; machine="$2"; shift 2 ;;
    --version-info) [ $# -ge 4 ] || { echo "$usage"; exit 2; }; product="$2"; description="$3"; version="$4"; shift 4 ;;
    --dialog) [ $# -ge 2 ] || { echo "$usage"; exit 2; }; dialogs+=("$2"); shift 2 ;;
    --icons) [ $# -ge 2 ] || { echo "$usage"; exit 2; }; icons="$2"; shift 2 ;;
    -*) echo "$usage"; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 3 ] || { echo "$usage"; exit 2; }
objdump="$1"
dll="$2"
shift 2
exports=("$@")
[ -f "$dll" ] || { echo "FAIL: $dll not built"; exit 1; }

# The bytes of `count` at `offset` as lower-case hex pairs without separators.
bytes() { { od -An -v -tx1 -j "$2" -N "$3" "$1" 2>/dev/null || true; } | tr -d ' \n'; }

# A PE file: "MZ", the new header's offset at 0x3c, there "PE\0\0" and the COFF machine field.
[ "$(bytes "$dll" 0 2)" = "4d5a" ] || { echo "FAIL: $dll is not a PE file (no MZ header)"; exit 1; }
offset="$(bytes "$dll" 0x3c 4 | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/')"
[ ${#offset} -eq 8 ] || { echo "FAIL: $dll is not a PE file (too short)"; exit 1; }
header=$((0x$offset))
[ "$(bytes "$dll" "$header" 4)" = "50450000" ] || { echo "FAIL: $dll is not a PE file (no PE header)"; exit 1; }
status=0
if [ -n "$machine" ]; then
  case "$(bytes "$dll" $((header + 4)) 2)" in
    4c01) found=i386 ;;
    6486) found=x86-64 ;;
    *) found="unknown ($(bytes "$dll" $((header + 4)) 2))" ;;
  esac
  if [ "$found" != "$machine" ]; then
    echo "FAIL: $dll is built for $found, not $machine"
    status=1
  fi
fi

dump="$("$objdump" -p "$dll" 2>&1)" || { echo "FAIL: $objdump cannot read $dll"; exit 1; }
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll mswsock.dll msvcrt.dll
comctl32.dll comdlg32.dll ole32.dll shlwapi.dll iphlpapi.dll winmm.dll version.dll"
while read -r name; do
  lower="$(echo "$name" | tr 'A-Z' 'a-z')"
  if [[ " $(echo $allowed) " != *" $lower "* ]]; then
    echo "FAIL: $dll imports $name, which is not a Windows system library"
    status=1
  fi
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')

for name in "${exports[@]}"; do
  if ! grep -Eq "^\s*\[\s*[0-9]+\]\s+${name}\$" <<< "$dump"; then
    echo "FAIL: $dll does not export $name undecorated"
    status=1
  fi
done

if [ -n "$version" ]; then
  [[ "$version" =~ ^[0-9]+\.[0-9]+$ ]] || { echo "$usage"; exit 2; }
  windres="${objdump%objdump}windres"
  command -v "$windres" >/dev/null || { echo "FAIL: no $windres to read the version resource with"; exit 1; }
  # windres writes the resources of a PE file back as a resource script.
  script="$("$windres" -i "$dll" -O rc 2>/dev/null || true)"
  numbers="${version%.*}, ${version#*.}, 0, 0"
  expected=("FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"ProductName\", \"$product\""
            "VALUE \"FileDescription\", \"$description\"" "VALUE \"FileVersion\", \"$version\""
            "VALUE \"ProductVersion\", \"$version\"" "VALUE \"OriginalFilename\", \"$(basename "$dll")\"")
  if ! grep -q "VERSIONINFO" <<< "$script"; then
    echo "FAIL: $dll carries no version resource"
    status=1
  else
    for line in "${expected[@]}"; do
      if ! grep -qxF "$line" < <(sed 's/^\s*//' <<< "$script"); then
        echo "FAIL: the version resource of $dll lacks: $line"
        status=1
      fi
    done
  fi
fi

if [ ${#dialogs[@]} -gt 0 ] || [ "$icons" -gt 0 ]; then
  windres="${objdump%objdump}windres"
  command -v "$windres" >/dev/null || { echo "FAIL: no $windres to read the resources with"; exit 1; }
  script="$("$windres" -i "$dll" -O rc 2>/dev/null || true)"
  for caption in "${dialogs[@]}"; do
    if ! grep -qxF "CAPTION \"$caption\"" < <(sed 's/^\s*//' <<< "$script"); then
      echo "FAIL: $dll carries no dialog \"$caption\""
      status=1
    fi
  done
  found="$(grep -c 'RT_GROUP_ICON' <<< "$script" || true)"
  if [ "$found" -lt "$icons" ]; then
    echo "FAIL: $dll carries $found icons, not $icons"
    status=1
  fi
fi

if [ $status -eq 0 ]; then
  summary="ok: $dll${machine:+ ($machine)} imports only system libraries and exports ${exports[*]}"
  [ -z "$version" ] || summary+="; version resource \"$description\" $version"
  [ ${#dialogs[@]} -eq 0 ] || summary+="; dialogs ${dialogs[*]}"
  [ "$icons" -eq 0 ] || summary+="; $icons icons"
  echo "$summary"
fi
exit $status
