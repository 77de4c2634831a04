#!/usr/bin/env bash
# Installs the built installer silently into a Wine prefix of its own, checks
# the files, the component's registration and the shortcuts (Start menu and
# "Send To"), uninstalls it
# silently, and checks that nothing of it is left but the user's queue and
# settings. Between install and uninstall the black-box test runs the
# installed program (and the component the installer registered) against the
# raw print queue and a network printer on loopback, so it needs the
# services' environment and a display (scripts/test.sh provides them).
# Usage: installer_test.sh INSTALLER BUILD_DIR [BLACKBOX_TEST_EXE]
set -u
installer=$1
build=$2
blackbox=${3:-$build/tests/app/test_app_blackbox.exe}
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

for v in MORVANE_CUPS_QUEUE MORVANE_CAPTURE_DIR DISPLAY; do
    [ -n "${!v:-}" ] || fail "$v is not set: the installed program is tested against the services of scripts/services.sh (start them and source their env, as scripts/test.sh does)"
done
[ -f "$blackbox" ] || fail "no black-box test at $blackbox (build the tests first)"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    run wineboot -i || fail "could not make the prefix"
fi
run wineserver -w
# No window manager runs on the test display: Wine places windows itself.
run wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f

# The user's settings exist before and must survive the uninstall.
run wine reg add 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /t REG_DWORD /d 2 /f /reg:32 \
    || fail "could not seed the settings"

run wine "$(winepath -w "$installer")" /S || fail "the installer failed"
run wineserver -w
for f in Morvane.exe MorvanePipe.dll Uninstall.exe; do
    [ -f "$appdir/$f" ] || fail "$f was not installed"
done
[ -f "$menu/Morvane.lnk" ] || fail "no Start-menu shortcut"
# Explorer's "Send To" menu of the user who installed: the files chosen
# arrive as the program's command line.
sendto=$(find "$WINEPREFIX/drive_c/users" -path '*/SendTo/Morvane.lnk' 2>/dev/null | head -n 1)
[ -n "$sendto" ] || fail "no \"Send To\" entry"
grep -aq 'Morvane.exe' "$sendto" || fail "the \"Send To\" entry does not start Morvane.exe"
wine reg query "$clsid" </dev/null >"$build/installer-clsid.txt" 2>&1 || fail "the pipe component is not registered"
grep -qi 'MorvanePipe.dll' "$build/installer-clsid.txt" || fail "the component is registered elsewhere: $(cat "$build/installer-clsid.txt")"
grep -qi 'Both' "$build/installer-clsid.txt" || fail "the component's threading model is missing"
wine reg query 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /reg:32 </dev/null \
    >"$build/installer-settings.txt" 2>&1 || fail "the installer removed the user's settings"
grep -q 0x2 "$build/installer-settings.txt" || fail "the installer changed the user's settings"

# The installed program prints. The black-box test starts from a clean
# program key and leaves none: the user's settings are put back afterwards.
MORVANE_EXE_UNDER_TEST='C:\Program Files\Tolvar\Morvane\Morvane.exe' \
    wine "$(winepath -w "$blackbox")" --gtest_color=no </dev/null >"$build/installer-blackbox.log" 2>&1
rc=$?
cat "$build/installer-blackbox.log" >>"$log"
[ $rc -eq 0 ] || fail "the installed program failed the black-box test"
run wine reg add 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /t REG_DWORD /d 2 /f /reg:32 \
    || fail "could not seed the settings again"

# "Start with Windows" as the program writes it; the uninstaller takes it away.
run wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Morvane /t REG_SZ \
    /d '"C:\Program Files\Tolvar\Morvane\Morvane.exe" /minimized /start' /f \
    || fail "could not set Start with Windows"
run wine 'C:\Program Files\Tolvar\Morvane\Uninstall.exe' /S || fail "the uninstaller failed"
run wineserver -w
if wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Morvane </dev/null >>"$log" 2>&1; then
    fail "Start with Windows is still set"
fi
left=$(find "$appdir" "$menu" "$sendto" 2>/dev/null)
[ -z "$left" ] || fail "left behind: $left"
if wine reg query "$clsid" </dev/null >>"$log" 2>&1; then
    fail "the component is still registered"
fi
wine reg query 'HKLM\SOFTWARE\Tolvar\Tolvar Morvane\SpoolerSetup' /v SpoolerType /reg:32 </dev/null \
    >"$build/installer-settings.txt" 2>&1 || fail "the uninstaller removed the user's settings"
grep -q 0x2 "$build/installer-settings.txt" || fail "the user's settings changed"
run wineserver -k
echo "installer: installed, registered, printed from the installed program, uninstalled; the user's settings stayed"
grep -E '^\[  (PASSED|FAILED) ' "$build/installer-blackbox.log"
