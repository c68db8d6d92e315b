#!/usr/bin/env bash
# Checks a DLL of ours: it imports only Windows' own libraries (the C++ runtime, libgcc and winpthread
# are linked in) and exports each EXPORT under that exact name, undecorated.
#   check_dll.sh OBJDUMP DLL EXPORT...
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: check_dll.sh OBJDUMP DLL EXPORT..."; exit 2; }
objdump="$1"
dll="$2"
shift 2
exports=("$@")
[ -f "$dll" ] || { echo "FAIL: $dll not built"; exit 1; }
dump="$("$objdump" -p "$dll")"

allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll mswsock.dll msvcrt.dll
comctl32.dll comdlg32.dll ole32.dll shlwapi.dll iphlpapi.dll winmm.dll version.dll"
status=0
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
[ $status -eq 0 ] && echo "ok: $dll imports only system libraries and exports ${exports[*]}"
exit $status
