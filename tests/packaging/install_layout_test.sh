#!/usr/bin/env bash
# Installs the build into scratch roots and checks the layout:
#  1. DESTDIR with the build's own prefix: the system files stay under it;
#  2. the packaging option: the system files go where udev, systemd, ufw and
#     firewalld read them, below DESTDIR;
#  3. a prefix the user owns, without root and without DESTDIR: nothing is
#     written outside the prefix.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

check_program() {  # check_program PREFIX-DIR
  local p=$1 s f dims
  [ -f "$p/lib/wendrix/libvJoyInterface.so" ] || fail "driver library not beside the program"
  [ -n "${WITH_UI:-}" ] || return 0
  [ -x "$p/lib/wendrix/wendrix" ] || fail "program missing"
  [ "$(readlink "$p/bin/wendrix")" = ../lib/wendrix/wendrix ] || fail "bin/wendrix is not a relative symlink"
  [ "$(readlink -f "$p/bin/wendrix")" = "$(readlink -f "$p/lib/wendrix/wendrix")" ] || fail "symlink does not resolve"
  grep -qx 'Exec=wendrix' "$p/share/applications/wendrix.desktop" || fail "desktop entry"
  [ -f "$p/share/metainfo/example.wendrix.wendrix.metainfo.xml" ] || fail "AppStream metainfo"
  for s in 16 32 48 64; do
    f=$p/share/icons/hicolor/${s}x${s}/apps/wendrix.png
    [ -f "$f" ] || fail "icon $s missing"
    # PNG header: width and height at bytes 16..23, colour type 6 (RGBA) at 25
    dims=$(od -An -tu1 -j16 -N10 "$f" | tr -s ' ')
    set -- $dims
    [ "$4" = "$s" ] && [ "$8" = "$s" ] || fail "icon $s has the wrong size"
    [ "${10}" = 6 ] || fail "icon $s is not 32-bit RGBA"
  done
}

check_system_files() {  # check_system_files UDEV-DIR MODULES-DIR UFW-DIR FIREWALLD-DIR
  grep -qx 'KERNEL=="uinput", SUBSYSTEM=="misc", TAG+="uaccess", OPTIONS+="static_node=uinput"' \
    "$1/70-wendrix-uinput.rules" || fail "udev rule not in $1"
  grep -qx uinput "$2/wendrix.conf" || fail "modules-load entry not in $2"
  grep -q '^ports=41503/tcp|41503/udp$' "$3/wendrix" || fail "ufw profile not in $3"
  grep -q '<port protocol="tcp" port="41503"/>' "$4/wendrix.xml" || fail "firewalld service not in $4"
}

# 1. The build's prefix (/usr/local here) keeps the system files under it.
DESTDIR=$root/1 cmake --install "$build" --prefix /usr/local >/dev/null
p=$root/1/usr/local
check_program "$p"
check_system_files "$p/lib/udev/rules.d" "$p/lib/modules-load.d" "$p/share/wendrix/ufw" "$p/lib/firewalld/services"
[ "$(cd "$root/1" && ls)" = usr ] || fail "files outside the prefix: $(cd "$root/1" && ls)"

# 2. The packaging option puts them in the system's places (a configure of
# its own, so the build under test stays as it is).
src=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$src" -B "$root/2-build" -G Ninja -DWENDRIX_BUILD_UI=OFF -DWENDRIX_BUILD_TESTS=OFF \
  -DWENDRIX_BUILD_BENCH=OFF -DWENDRIX_SYSTEM_INTEGRATION=ON >"$root/2.log" 2>&1 || { cat "$root/2.log"; fail "configure"; }
DESTDIR=$root/2 cmake --install "$root/2-build" --prefix /usr/local --component system >/dev/null
check_system_files "$root/2/usr/lib/udev/rules.d" "$root/2/usr/lib/modules-load.d" "$root/2/etc/ufw/applications.d" \
  "$root/2/usr/lib/firewalld/services"

# 3. A prefix the user owns, as a user without root. As root, the install
# runs as nobody where nobody can read the build (the manifest that
# `cmake --install` writes into the build is made writable for it first);
# elsewhere as the caller, and then only the paths are checked.
prefix=$root/3/home/prefix
mkdir -p "$prefix"
as_user=()
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
# Root for real, not only inside a user namespace (`unshare -r`), where
# other users do not exist.
really_root() { [ "$(id -u)" -eq 0 ] && grep -qE '^ *0 +0 ' /proc/self/uid_map; }
if really_root; then
  chown -R 65534:65534 "$root/3"
  chmod 755 "$root"
  if "${nobody[@]}" test -r "$build/cmake_install.cmake"; then
    as_user=("${nobody[@]}")
    touch "$build/install_manifest.txt"
    chown 65534 "$build/install_manifest.txt"
  else
    echo "note: nobody cannot read $build; installing as root, checking the paths only"
  fi
fi
status=0
"${as_user[@]}" env -u DESTDIR HOME="$root/3/home" cmake --install "$build" --prefix "$prefix" \
  >"$root/3.log" 2>&1 || status=$?
! really_root || chown 0 "$build/install_manifest.txt" 2>/dev/null || true
[ "$status" = 0 ] || { cat "$root/3.log"; fail "install into a user-owned prefix"; }
check_program "$prefix"
check_system_files "$prefix/lib/udev/rules.d" "$prefix/lib/modules-load.d" "$prefix/share/wendrix/ufw" \
  "$prefix/lib/firewalld/services"
grep -F -- '-- Installing:' "$root/3.log" | grep -vF -- "-- Installing: $prefix/" && fail "installed outside the prefix"
echo "install layout ok"
