# The Wine side of the integration suite, shared by test.sh and screenshots.sh. Sourced; needs $root.
#   wine_run PRESET COMMAND...   runs COMMAND under one X server, pointed at fakeamp.exe and the unpacked
#                                package of the Windows build PRESET (QF_TEST_HOST=wine and the rest, see
#                                tests/support/quenforth_process.h). Each test's prefix shares the system
#                                files of a Wine prefix made once here, in build/PRESET/wineprefix.
#   WINE_SCREEN                  the X server's screen, when set (for example 1280x1024x24)

wine_template() {
  local template="$1"
  if [ ! -f "$template/system.reg" ] || [ ! -f "$template/.update-timestamp" ]; then
    rm -rf "$template"
    WINEPREFIX="$template" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot -i
    WINEPREFIX="$template" /usr/lib/wine/wineserver -w
  fi
}

wine_run() {
  local build="$root/build/$1"
  shift
  wine_template "$build/wineprefix"
  local screen=()
  [ -n "${WINE_SCREEN:-}" ] && screen=(-s "-screen 0 $WINE_SCREEN")
  QF_TEST_HOST=wine QF_WINE_TEMPLATE="$build/wineprefix" QF_WINDOWS_PACKAGE="$build/package" \
    QF_FAKEAMP="$build/host/win32/fakeamp.exe" QF_UIDRIVER="$build/host/win32/uidriver.exe" \
    QF_WINE=/usr/lib/wine/wine64 xvfb-run -a "${screen[@]}" "$@"
}
