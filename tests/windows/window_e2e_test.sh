#!/usr/bin/env bash
# wendrix.exe under Wine with the fake driver, driven by the Linux phone
# simulator over loopback: UDP, framed TCP, legacy TCP. Announcements are
# heard on a veth pair (198.18.0.0/15) only while no phone is connected.
# Everything runs in a network namespace of the test's own, with its own
# Wine prefix whose wineserver starts inside it, and its own Xvfb display.
# window_e2e_test.sh PROGRAM FAKE_VJOY_DLL WINDOW_STATE_EXE PADSIM WORK_DIR ARTIFACT_DIR
set -euo pipefail
[ -x "$4" ] || { echo "padsim not built ($4): build it with the debug preset"; exit 77; }
# shellcheck source=own-test-env.sh
. "$(dirname "$0")/own-test-env.sh"
in_own_namespace "$@"
program=$1 fakevjoy=$2 state=$3 padsim=$4 work=$5 artifacts=$6

fail() {
  trap - ERR
  echo "FAIL: $*" >&2
  echo "last state: $(window_state state || true)" >&2
  exit 1
}
# A step that fails on its own says which.
set -E
trap 'fail "line $LINENO: $BASH_COMMAND (exit $?)"' ERR

ip link set lo up
# The peer end of the veth pair lives in a namespace of its own, where
# padsim listens for announcements.
unshare -n sleep 600 </dev/null >/dev/null 2>&1 &
peer=$!
sleep 0.2
ip link add wxe0 type veth peer name wxe1
ip link set wxe1 netns "$peer"
ip addr add 198.18.0.1/24 dev wxe0
ip link set wxe0 up
nsenter -t "$peer" -n sh -c 'ip link set lo up && ip addr add 198.18.0.2/24 dev wxe1 && ip link set wxe1 up'

start_display 1280x1024

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mshtml=d
start_wineserver
mkdir -p "$artifacts"
cleanup() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  kill "$xvfb" "$peer" 2>/dev/null || true
}
trap cleanup EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1

app=$work/app
rm -rf "$app"
mkdir -p "$app"
cp "$program" "$app/wendrix.exe"
cp "$fakevjoy" "$app/vJoyInterface.dll"
driverlog=$work/driver.log
rm -f "$driverlog" "$work/states.log"

window_state() { wine "$state" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# Prints window_state QUERY's answer once it matches PATTERN, asked again
# for up to 5 s: under a busy wineserver a Wine program now and then ends
# without a word (seen on fresh prefixes in CI, with the window there).
answer_matching() {  # PATTERN QUERY
  local answer end=$((SECONDS + 5))
  while :; do
    answer=$(window_state "$2" || true)
    if [[ "$answer" =~ $1 ]]; then
      echo "$answer"
      return 0
    fi
    [ $SECONDS -lt $end ] || break
    sleep 0.2
  done
  echo "window_state $2 answered '$answer'" >&2
  return 1
}
# Closes the window, asking again every 2 s, and waits up to 10 s for the
# program to end; its exit code goes to exit_code.
close_window() {
  local i
  for i in $(seq 100); do
    [ $((i % 20)) -ne 1 ] || window_state close || true
    kill -0 "$wendrix" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$wendrix" 2>/dev/null && fail "wendrix.exe still running 10 s after its window was closed"
  exit_code=0
  wait "$wendrix" || exit_code=$?
}
# Waits up to $1 seconds for the window's state line to match $2.
wait_state() {
  local end=$((SECONDS + $1))
  local now
  while [ $SECONDS -lt $end ]; do
    now=$(window_state state || true)
    echo "$now" >> "$work/states.log"
    [[ "$now" =~ $2 ]] && return 0
    sleep 0.2
  done
  fail "window never matched: $2"
}
# N copies of a record: a phone holding it for N / 50 s.
held() { local i; for ((i = 0; i < $1; i++)); do printf '%s ' "$2"; done; }
announcements() {  # heard on the veth peer within $1 s
  nsenter -t "$peer" -n "$padsim" listen --seconds "$1" 2>/dev/null | grep -c '^announcement from 198.18.0.1' || true
}

idle='wifi=disconnected bluetooth=disconnected steering=0 pedals=0 boxes=00000000 enabled=0'
at_dpi() {  # a busy wineserver may turn a registry write away: tried three times
  local try
  for try in 1 2 3; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1 &&
      return 0
    echo "registry write $try for $1 dpi failed" >&2
    sleep 1
  done
  return 1
}
# The prefix is kept from run to run; the last one left it at 144 dpi.
at_dpi 96
FAKE_VJOY_LOG="Z:$driverlog" wine "$app/wendrix.exe" </dev/null >/dev/null 2>&1 &
wendrix=$!
wait_state 60 "$idle"

echo "--- idle: announcements on the veth pair"
n=$(announcements 2)
[ "$n" -ge 2 ] || fail "only $n announcements in 2 s while idle"

# A phone holding RECORD for 4 s (padsim arguments in HOW) until the window
# shows SHOWS; then AND_THEN runs, and after the phone's silence the window
# must be idle again.
phone() {  # HOW RECORD SHOWS [AND_THEN]
  local sim
  # shellcheck disable=SC2046,SC2086
  "$padsim" $1 $(held 200 "$2") >"$work/padsim.log" 2>&1 &
  sim=$!
  wait_state 10 "$3"
  [ -z "${4:-}" ] || "$4"
  wait "$sim" || fail "padsim: $(cat "$work/padsim.log")"
  wait_state 10 "$idle"
}
no_announcements() {
  local n
  n=$(announcements 2)
  [ "$n" -eq 0 ] || fail "$n announcements while a phone is connected"
}
screenshot() {  # [NAME]
  local rect
  rect=$(answer_matching '^-?[0-9]+ -?[0-9]+ [0-9]+ [0-9]+$' rect) || fail "no window rectangle"
  # shellcheck disable=SC2086
  python3 "$(dirname "$0")/xshot.py" $rect "$artifacts/wendrix-windows-${1:-running}.png" ||
    fail "no screenshot"
}

echo "--- UDP"
phone "udp 127.0.0.1" 16384,0 'wifi=connected bluetooth=notused steering=50 pedals=100 .* enabled=1' \
  no_announcements
echo "--- framed TCP"
phone "tcp 127.0.0.1 --framed" 32768,16384,1 \
  'wifi=connected bluetooth=notused steering=100 pedals=50 boxes=10000000 enabled=1'
echo "--- legacy TCP"
# Steering centred, pedals pressed, buttons 1 and 3: the README's picture.
phone "tcp 127.0.0.1 --legacy" 16384,0,5 \
  'wifi=connected bluetooth=notused steering=50 pedals=100 boxes=10100000 enabled=1' screenshot
n=$(announcements 2)
[ "$n" -ge 2 ] || fail "announcements did not resume after the phone left ($n)"

grep -q '^UpdateVJD 1 ' "$driverlog" || fail "the fake driver saw no report"
grep -q '^AcquireVJD 1' "$driverlog" || fail "device 1 was never acquired"

echo "--- close while a phone is connected"
"$padsim" tcp 127.0.0.1 --framed --seconds 20 >/dev/null 2>&1 &
sim=$!
wait_state 10 'wifi=connected'
close_window
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
kill "$sim" 2>/dev/null || true

echo "--- at 150 %"
for dpi in 96 144; do
  run_at() {
    at_dpi "$1"
    FAKE_VJOY_LOG="Z:$driverlog" wine "$app/wendrix.exe" </dev/null >/dev/null 2>&1 &
    wendrix=$!
    wait_state 60 "$idle"
  }
  run_at "$dpi"
  layout=$(answer_matching '^client=' layout) || fail "no layout at $dpi dpi"
  screenshot "dpi$dpi"
  close_window
  case $dpi in
    96) [ "$layout" = "client=474 bar=331 line=17" ] || fail "layout at 100 %: $layout" ;;
    144) [ "$layout" = "client=711 bar=497 line=26" ] || fail "layout at 150 %: $layout" ;;
  esac
done
echo "window end-to-end test passed"
