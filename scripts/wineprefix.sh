#!/bin/sh
# Makes the build's own Wine prefix once, starts its wineserver and system
# services detached from the caller's output (a test runner reading our
# output would otherwise wait for those services to end), and registers the
# build's pipe component in it.
# Usage: wineprefix.sh PREFIX BUILD_DIR      set up and start
#        wineprefix.sh --stop PREFIX         stop the prefix's wineserver
set -eu
if [ "$1" = "--stop" ]; then
    WINEPREFIX=$(realpath -m "$2") wineserver -k >/dev/null 2>&1 || true
    exit 0
fi
prefix=$(realpath -m "$1")
build=$(realpath -m "$2")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i </dev/null >"$build/wineboot.log" 2>&1
    wineserver -w
fi
# Wine's own fonts (Marlett draws the title bar's buttons, Tahoma the
# dialogs) come in a folder this Wine does not look in: without them the
# close box shows the letter "r". Linked into the prefix's font folder.
fonts_dir=/usr/share/wine/fonts
if [ -d "$fonts_dir" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    for f in "$fonts_dir"/*.ttf; do
        [ -e "$f" ] && ln -sf "$f" "$prefix/drive_c/windows/Fonts/"
    done
fi
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
# The displays here run no window manager: Wine draws and moves its windows
# itself, so hiding a window does not wait for a manager that never answers
# (2 s per closed dialog, and now and then for ever).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
dll="$build/pipe/MorvanePipe.dll"
if [ -f "$dll" ]; then
    wine regsvr32 /s "$(winepath -w "$dll")" </dev/null >"$build/regsvr32.log" 2>&1
fi
echo "wine prefix ready: $prefix"
