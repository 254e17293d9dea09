#!/usr/bin/env bash
# The installer and the installed program under Wine, as a player meets
# them, in a fresh prefix, network namespace and display of the test's own:
#  1. vJoy's library where vJoy's own installer puts it, a silent install,
#     then the installed wendrix.exe started from its folder with nothing
#     injected: the pane asks the program's own loopback server for the
#     waiting page, Help > Help opens that server's help page through the
#     desktop's "open", a phone's datagrams move the driver and switch the
#     pane to the connected page; a silent uninstall leaves nothing.
#  2. Without vJoy, and with vJoy in a folder its uninstall entry names.
# Wine runs a failed installer to exit code 0 as well, so only files,
# shortcut, registry, firewall commands and what the program does count.
# The pane's requests are read off the loopback device
# (tests/windows/http_requests.py); the desktop's "open" is a fake
# xdg-open on PATH; the fake driver library records its calls.
# installer_test.sh SETUP_EXE FAKE_NETSH_EXE FAKE_VJOY_DLL WINDOW_STATE_EXE PADSIM WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$5" ] || { echo "padsim not built ($5): build it with the debug preset"; exit 77; }
# shellcheck source=own-test-env.sh
. "$here/own-test-env.sh"
in_own_namespace "$@"
setup=$1 netsh=$2 fakevjoy=$3 state=$4 padsim=$5 work=$6

fail() { echo "FAIL: $*" >&2; exit 1; }

ip link set lo up
start_display 1024x768

# winemenubuilder would copy the Start menu entry into the desktop's menus
# outside the prefix, where no Windows uninstaller reaches.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mshtml=d;netsh.exe=n;winemenubuilder.exe=d"
start_wineserver fresh "$work"
sniffer=
cleanup() {
  [ -z "$sniffer" ] || kill "$sniffer" 2>/dev/null || true
  wineserver -k </dev/null >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1

c=$WINEPREFIX/drive_c
# Wine's netsh accepts firewall rules and keeps none: a stand-in records them.
cp "$netsh" "$c/windows/system32/netsh.exe"
netshlog=$work/netsh.log
export WENDRIX_NETSH_LOG="Z:$netshlog"
# The desktop's "open", reached by Wine's ShellExecuteA through winebrowser.
export PATH="$here/fakebin:$PATH" WENDRIX_OPENED_LOG=$work/opened.log
inst="$c/Program Files/Wendrix"
vjoy="$c/Program Files/vJoy/x64"
shortcut="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Wendrix.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Wendrix'
vjoykey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1'

run() { wine "$@" </dev/null >/dev/null 2>&1 || true; }

installed() {  # the files, shortcut, uninstall entry and firewall rules of an install
  [ -f "$inst/wendrix.exe" ] || fail "wendrix.exe not installed"
  [ -f "$inst/uninstall.exe" ] || fail "no uninstaller"
  [ -f "$shortcut" ] || fail "no Start menu shortcut"
  wine reg query "$key" /v DisplayName 2>/dev/null | grep -q 'Wendrix' || fail "no Add/Remove Programs entry"
  wine reg query "$key" /v UninstallString 2>/dev/null | grep -qF 'C:\Program Files\Wendrix\uninstall.exe' ||
    fail "uninstall entry does not name the uninstaller"
  for proto in TCP UDP; do
    grep -qF "advfirewall firewall add rule name=\"Wendrix $proto 41503\" dir=in action=allow program=\"C:\\Program Files\\Wendrix\\wendrix.exe\" protocol=$proto localport=41503" "$netshlog" ||
      fail "no $proto firewall rule added"
  done
}

uninstalled() {  # nothing of the program left: files, shortcut, registry, rules
  : > "$netshlog"
  run "$inst/uninstall.exe" /S
  # The uninstaller runs from a copy of itself and returns at once.
  for _ in $(seq 150); do [ -e "$inst" ] || break; sleep 0.2; done
  [ ! -e "$inst" ] || fail "left behind: $(ls -A "$inst")"
  [ ! -e "$shortcut" ] || fail "shortcut left behind"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "uninstall entry left behind"
  for proto in TCP UDP; do
    grep -qF "advfirewall firewall delete rule name=\"Wendrix $proto 41503\"" "$netshlog" ||
      fail "$proto firewall rule not removed"
  done
  local left
  left=$(find "$c" -iname '*wendrix*' 2>/dev/null || true)
  [ -z "$left" ] || fail "files left behind: $left"
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    run regedit /E "Z:$work/$hive.reg" "$hive"
    [ -s "$work/$hive.reg" ] || fail "cannot read $hive"
    left=$(iconv -f UTF-16 -t UTF-8 "$work/$hive.reg" | grep -i wendrix || true)
    [ -z "$left" ] || fail "registry left behind in $hive: $left"
  done
}

window_state() { wine "$state" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
wait_state() {  # SECONDS PATTERN: the window's state line matches
  local end=$((SECONDS + $1)) now=
  while [ $SECONDS -lt $end ]; do
    now=$(window_state state || true)
    [[ "$now" =~ $2 ]] && return 0
    sleep 0.2
  done
  fail "window never matched: $2 (last: $now)"
}
wait_line() {  # SECONDS FILE PATTERN: prints the first line of FILE matching
  local end=$((SECONDS + $1))
  while [ $SECONDS -lt $end ]; do
    grep -E -m1 "$3" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
held() { local i; for ((i = 0; i < $1; i++)); do printf '%s ' "$2"; done; }

echo "--- vJoy installed, then a silent install"
mkdir -p "$vjoy"
cp "$fakevjoy" "$vjoy/vJoyInterface.dll"
run "$setup" /S
installed
cmp -s "$fakevjoy" "$inst/vJoyInterface.dll" || fail "vJoy's library not copied beside wendrix.exe"

echo "--- the installed program, as a player starts it"
requests=$work/requests.log
: > "$requests"
python3 "$here/http_requests.py" "$requests" &
sniffer=$!
wait_line 10 "$requests" '^# ready' >/dev/null || fail "cannot read the loopback device"
driverlog=$work/driver.log
(cd "$inst" && FAKE_VJOY_LOG="Z:$driverlog" exec wine "C:\\Program Files\\Wendrix\\wendrix.exe" </dev/null >/dev/null 2>&1) &
wendrix=$!
idle='wifi=disconnected bluetooth=disconnected steering=0 pedals=0 boxes=00000000 enabled=0'
wait_state 60 "$idle"

# The pane asks the page server on loopback for the waiting page.
page=' /([^ ]*/)?zodevur_app/en/'
line=$(wait_line 30 "$requests" "^[0-9]+ GET$page"'waiting\.php\?v=5\.1 ') ||
  fail "the pane never asked for the waiting page: $(cat "$requests")"
port=${line%% *}
[ "$port" != 41503 ] || fail "the waiting page was asked of the phone's port"
[[ "$line" == *" 127.0.0.1:$port" ]] || fail "not asked of 127.0.0.1:$port: $line"
ss -ltnH "sport = :$port" | grep -q '127.0.0.1:' || fail "nothing listens on 127.0.0.1:$port only"

echo "--- Help > Help"
window_state help
help=$(wait_line 30 "$WENDRIX_OPENED_LOG" "^http://127\.0\.0\.1:$port/([^ ]*/)?zodevur_app/en/links/help\.php\?v=5\.1$") ||
  fail "Help opened no help page of the program's server: $(cat "$WENDRIX_OPENED_LOG" 2>/dev/null)"
! grep -q 'help\.php' "$requests" || fail "Help moved the pane"
python3 - "$help" <<'PY' || fail "$help does not answer with the help page"
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=10) as answer:
    assert answer.status == 200 and b'<body class="help">' in answer.read()
PY

echo "--- a phone over UDP"
# shellcheck disable=SC2046
"$padsim" udp 127.0.0.1 $(held 200 16384,0) >"$work/padsim.log" 2>&1 &
sim=$!
wait_state 15 'wifi=connected bluetooth=notused steering=50 pedals=100 .* enabled=1'
wait_line 15 "$requests" "^$port GET$page"'connected\.php\?v=5\.1&type=wifi ' >/dev/null ||
  fail "the pane never asked for the connected page: $(cat "$requests")"
wait "$sim" || fail "padsim: $(cat "$work/padsim.log")"
grep -q '^UpdateVJD 1 ' "$driverlog" || fail "the driver got no report"
wait_state 15 "$idle"

window_state close
for _ in $(seq 100); do kill -0 "$wendrix" 2>/dev/null || break; sleep 0.1; done
kill -0 "$wendrix" 2>/dev/null && fail "wendrix.exe still running 10 s after its window was closed"
kill "$sniffer"
sniffer=

echo "--- silent uninstall"
uninstalled

echo "--- silent install, no vJoy"
rm -rf "$c/Program Files/vJoy"
: > "$netshlog"
run "$setup" /S
installed
[ ! -e "$inst/vJoyInterface.dll" ] || fail "a vJoy library appeared from nowhere"

echo "--- silent install again, vJoy in the folder its uninstall entry names"
mkdir -p "$c/Games/vJoy/x64"
cp "$fakevjoy" "$c/Games/vJoy/x64/vJoyInterface.dll"
run reg add "$vjoykey" /v InstallLocation /d 'C:\Games\vJoy' /f
run "$setup" /S
cmp -s "$fakevjoy" "$inst/vJoyInterface.dll" || fail "vJoy's library not copied beside wendrix.exe"
[ "$(grep -c 'add rule' "$netshlog")" -eq 4 ] || fail "expected two add-rule calls per install"
run reg delete "$vjoykey" /f

echo "--- silent uninstall"
uninstalled
echo "installer test passed"
