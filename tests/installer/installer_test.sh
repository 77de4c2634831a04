#!/usr/bin/env bash
# Installs the built installer silently into a Wine prefix of its own, checks
# the files, the component's registration and the shortcuts, uninstalls it
# silently, and checks that nothing of it is left but the user's queue and
# settings. Usage: installer_test.sh INSTALLER BUILD_DIR
set -u
installer=$1
build=$2
export WINEPREFIX=$build/wineprefix-install WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log=$build/installer-test.log
: >"$log"
fail() {
    echo "FAIL: $*"
    cat "$log"
    wineserver -k >/dev/null 2>&1
    exit 1
}
run() { "$@" </dev/null >>"$log" 2>&1; }

clsid='HKCR\CLSID\{55E01C5E-01FB-4C58-BA20-84EC493BD144}\InprocServer32'
appdir="$WINEPREFIX/drive_c/Program Files/Tolvar/Morvane"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Morvane"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    run wineboot -i || fail "could not make the prefix"
fi
run wineserver -w

# The user's settings exist before and must survive the uninstall.
run wine reg add 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /t REG_DWORD /d 2 /f /reg:32 \
    || fail "could not seed the settings"

run wine "$(winepath -w "$installer")" /S || fail "the installer failed"
run wineserver -w
for f in Morvane.exe MorvanePipe.dll Uninstall.exe; do
    [ -f "$appdir/$f" ] || fail "$f was not installed"
done
[ -f "$menu/Morvane.lnk" ] || fail "no Start-menu shortcut"
wine reg query "$clsid" </dev/null >"$build/installer-clsid.txt" 2>&1 || fail "the pipe component is not registered"
grep -qi 'MorvanePipe.dll' "$build/installer-clsid.txt" || fail "the component is registered elsewhere: $(cat "$build/installer-clsid.txt")"
grep -qi 'Both' "$build/installer-clsid.txt" || fail "the component's threading model is missing"

run wine 'C:\Program Files\Tolvar\Morvane\Uninstall.exe' /S || fail "the uninstaller failed"
run wineserver -w
left=$(find "$appdir" "$menu" 2>/dev/null)
[ -z "$left" ] || fail "left behind: $left"
if wine reg query "$clsid" </dev/null >>"$log" 2>&1; then
    fail "the component is still registered"
fi
wine reg query 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /reg:32 </dev/null \
    >"$build/installer-settings.txt" 2>&1 || fail "the uninstaller removed the user's settings"
grep -q 0x2 "$build/installer-settings.txt" || fail "the user's settings changed"
run wineserver -k
echo "installer: installed, registered, uninstalled; the user's settings stayed"
