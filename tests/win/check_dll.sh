#!/usr/bin/env bash
# Checks a plug-in DLL: it imports only Windows' own libraries (the C++ runtime, libgcc and winpthread
# are linked in) and exports winampGetGeneralPurposePlugin under that exact name.
#   check_dll.sh OBJDUMP DLL
set -euo pipefail
objdump="$1"
dll="$2"
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

if ! grep -Eq '^\s*\[\s*[0-9]+\]\s+winampGetGeneralPurposePlugin$' <<< "$dump"; then
  echo "FAIL: $dll does not export winampGetGeneralPurposePlugin undecorated"
  status=1
fi
[ $status -eq 0 ] && echo "ok: $dll imports only system libraries and exports winampGetGeneralPurposePlugin"
exit $status
