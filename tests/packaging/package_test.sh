#!/usr/bin/env bash
# Checks the Debian package: its files and their modes, its control data and
# maintainer scripts, lintian, and the desktop entry and AppStream file.
#   tests/packaging/package_test.sh build/package/wendrix_*.deb
set -euo pipefail
deb=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg-deb -c "$deb" >"$work/contents"
awk '{print $1, $6}' "$work/contents" | sed 's|^\(.\{10\}\) \./|\1 /|' >"$work/list"
# Every file the package must hold, with its mode.
while read -r mode path; do
  grep -qxF -e "$mode $path" "$work/list" || { cat "$work/list" >&2; fail "no $path with mode $mode"; }
done <<'EOF_FILES'
-rwxr-xr-x /usr/lib/wendrix/wendrix
-rw-r--r-- /usr/lib/wendrix/libvJoyInterface.so
-rw-r--r-- /usr/share/applications/wendrix.desktop
-rw-r--r-- /usr/share/icons/hicolor/16x16/apps/wendrix.png
-rw-r--r-- /usr/share/icons/hicolor/32x32/apps/wendrix.png
-rw-r--r-- /usr/share/icons/hicolor/48x48/apps/wendrix.png
-rw-r--r-- /usr/share/icons/hicolor/64x64/apps/wendrix.png
-rw-r--r-- /usr/share/metainfo/example.wendrix.wendrix.metainfo.xml
-rw-r--r-- /usr/lib/udev/rules.d/70-wendrix-uinput.rules
-rw-r--r-- /usr/lib/modules-load.d/wendrix.conf
-rw-r--r-- /etc/ufw/applications.d/wendrix
-rw-r--r-- /usr/lib/firewalld/services/wendrix.xml
-rw-r--r-- /usr/share/doc/wendrix/copyright
-rw-r--r-- /usr/share/doc/wendrix/changelog.gz
-rw-r--r-- /usr/share/man/man1/wendrix.1.gz
EOF_FILES
grep -q ' ./usr/bin/wendrix -> ../lib/wendrix/wendrix$' "$work/contents" || fail "no relative /usr/bin/wendrix link"
# Nothing outside the places above.
if grep -vE ' /(usr/(lib/wendrix|bin|share/(applications|icons|metainfo|doc/wendrix|man/man1)|lib/(udev|modules-load.d|firewalld))|etc/ufw)' "$work/list" |
   grep -vE '^d' | grep -q .; then
  fail "unexpected files: $(grep -vE '^d' "$work/list" | grep -vE ' /(usr/(lib/wendrix|bin|share/(applications|icons|metainfo|doc/wendrix|man/man1)|lib/(udev|modules-load.d|firewalld))|etc/ufw)')"
fi

# Control data: dependencies from dpkg-shlibdeps, the maintainer scripts.
dpkg-deb -e "$deb" "$work/control"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6network6 libevdev2 libsystemd0 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
# The window's pane is the light one: no browser engine comes with it.
if grep -qiE 'webengine|libqt6quick' <<<"$depends"; then fail "Depends pulls a browser engine: $depends"; fi
for script in postinst postrm; do
  [ "$(stat -c %a "$work/control/$script")" = 755 ] || fail "$script is not executable"
  sh -n "$work/control/$script" || fail "$script is not valid sh"
done
grep -qx /etc/ufw/applications.d/wendrix "$work/control/conffiles" || fail "the ufw profile is no conffile"
# The scripts never fail, whatever the machine lacks: run them with a PATH
# that has no modprobe or udevadm.
for script in postinst postrm; do
  arg=configure
  [ "$script" = postrm ] && arg=remove
  PATH=/nonexistent /bin/sh "$work/control/$script" "$arg" || fail "$script fails without udev"
done

# Lintian: no errors. The warnings kept are listed in the README.
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" | tee "$work/lintian" >&2 ||
  fail "lintian reports errors"

# The installed desktop entry and AppStream data validate.
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/wendrix.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$work/root/usr/share/metainfo/example.wendrix.wendrix.metainfo.xml" >&2 ||
  fail "AppStream metainfo"
grep -q 'ports=41503/tcp|41503/udp' "$work/root/etc/ufw/applications.d/wendrix" || fail "ufw profile"
grep -q 'port protocol="udp" port="41503"' "$work/root/usr/lib/firewalld/services/wendrix.xml" || fail "firewalld service"
echo "package ok: $(basename "$deb")"
