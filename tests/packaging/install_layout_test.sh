#!/usr/bin/env bash
# Installs the build into a scratch root and checks the layout.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr/local >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
p=$root/usr/local
[ -f "$p/lib/wendrix/libvJoyInterface.so" ] || fail "driver library not beside the program"
if [ -n "${WITH_UI:-}" ]; then
  [ -x "$p/lib/wendrix/wendrix" ] || fail "program missing"
  [ "$(readlink "$p/bin/wendrix")" = ../lib/wendrix/wendrix ] || fail "bin/wendrix is not a relative symlink"
  [ "$(readlink -f "$p/bin/wendrix")" = "$(readlink -f "$p/lib/wendrix/wendrix")" ] || fail "symlink does not resolve"
  grep -qx 'Exec=wendrix' "$p/share/applications/wendrix.desktop" || fail "desktop entry"
  for s in 16 32 48 64; do
    f=$p/share/icons/hicolor/${s}x${s}/apps/wendrix.png
    [ -f "$f" ] || { echo "note: icon $s missing"; continue; }
    # PNG header: width and height at bytes 16..23, colour type 6 (RGBA) at 25
    dims=$(od -An -tu1 -j16 -N10 "$f" | tr -s ' ')
    set -- $dims
    [ "$4" = "$s" ] && [ "$8" = "$s" ] || fail "icon $s has the wrong size"
    [ "${10}" = 6 ] || fail "icon $s is not 32-bit RGBA"
  done
fi
grep -qx 'KERNEL=="uinput", SUBSYSTEM=="misc", TAG+="uaccess", OPTIONS+="static_node=uinput"' \
  "$root/usr/lib/udev/rules.d/70-wendrix-uinput.rules" || fail "udev rule"
grep -qx uinput "$root/usr/lib/modules-load.d/wendrix.conf" || fail "modules-load entry"
echo "install layout ok"
