#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix of its own: a silent install
# without vJoy, another with vJoy installed, a silent uninstall. Wine runs
# a failed installer to exit code 0 as well, so only the files, shortcut,
# registry and firewall commands count.
# installer_test.sh SETUP_EXE FAKE_NETSH_EXE FAKE_VJOY_DLL WORK_DIR
set -euo pipefail
setup=$1 netsh=$2 fakevjoy=$3 work=$4

fail() { echo "FAIL: $*" >&2; exit 1; }

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mshtml=d;netsh.exe=n"
# Its own wineserver, started here, inside the test's network namespace.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
rm -rf "$work"
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1

c=$WINEPREFIX/drive_c
# Wine's netsh accepts firewall rules and keeps none: a stand-in records them.
cp "$netsh" "$c/windows/system32/netsh.exe"
netshlog=$work/netsh.log
export WENDRIX_NETSH_LOG="Z:$netshlog"
inst="$c/Program Files/Wendrix"
shortcut="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Wendrix.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Wendrix'

run() { wine "$@" </dev/null >/dev/null 2>&1 || true; }

echo "--- silent install, no vJoy"
run "$setup" /S
[ -f "$inst/wendrix.exe" ] || fail "wendrix.exe not installed"
[ -f "$inst/uninstall.exe" ] || fail "no uninstaller"
[ ! -e "$inst/vJoyInterface.dll" ] || fail "a vJoy library appeared from nowhere"
[ -f "$shortcut" ] || fail "no Start menu shortcut"
wine reg query "$key" /v DisplayName 2>/dev/null | grep -q 'Wendrix' || fail "no Add/Remove Programs entry"
wine reg query "$key" /v UninstallString 2>/dev/null | grep -qF 'C:\Program Files\Wendrix\uninstall.exe' ||
  fail "uninstall entry does not name the uninstaller"
for proto in TCP UDP; do
  grep -qF "advfirewall firewall add rule name=\"Wendrix $proto 41503\" dir=in action=allow program=\"C:\\Program Files\\Wendrix\\wendrix.exe\" protocol=$proto localport=41503" "$netshlog" ||
    fail "no $proto firewall rule added"
done

echo "--- silent install again, vJoy installed"
mkdir -p "$c/Program Files/vJoy/x64"
cp "$fakevjoy" "$c/Program Files/vJoy/x64/vJoyInterface.dll"
run reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1' \
  /v InstallLocation /d 'C:\Program Files\vJoy' /f
run "$setup" /S
cmp -s "$fakevjoy" "$inst/vJoyInterface.dll" || fail "vJoy's library not copied beside wendrix.exe"
[ "$(grep -c 'add rule' "$netshlog")" -eq 4 ] || fail "expected two add-rule calls per install"

echo "--- silent uninstall"
run reg add 'HKCU\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION' \
  /v wendrix.exe /t REG_DWORD /d 11001 /f
: > "$netshlog"
run "$inst/uninstall.exe" /S
# The uninstaller runs from a copy of itself and returns at once.
for _ in $(seq 150); do [ -e "$inst" ] || break; sleep 0.2; done
[ ! -e "$inst" ] || fail "left behind: $(ls -A "$inst")"
[ ! -e "$shortcut" ] || fail "shortcut left behind"
! wine reg query "$key" >/dev/null 2>&1 || fail "uninstall entry left behind"
! wine reg query 'HKCU\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION' \
  /v wendrix.exe >/dev/null 2>&1 || fail "browser emulation value left behind"
for proto in TCP UDP; do
  grep -qF "advfirewall firewall delete rule name=\"Wendrix $proto 41503\"" "$netshlog" ||
    fail "$proto firewall rule not removed"
done
echo "installer test passed"
