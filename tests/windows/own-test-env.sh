# Sourced by the Windows end-to-end scripts: a network namespace, an X
# display and a Wine prefix of the script's own.

# Runs the calling script again, with the same arguments, inside a network
# namespace of its own (only loopback, once it is up); returns in that copy.
in_own_namespace() {
  [ "${WENDRIX_OWN_NAMESPACE:-}" = "$0" ] && return 0
  local ns=(unshare -n)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -rn)
  exec "${ns[@]}" -- env WENDRIX_OWN_NAMESPACE="$0" "$0" "$@"
}

# An Xvfb display of the script's own at WIDTHxHEIGHT: DISPLAY is set, and
# xvfb holds its process.
start_display() {
  local file
  file=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "$1x24" 3>"$file" </dev/null >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$file")
  rm -f "$file"
}

# WINEPREFIX's wineserver, stopped wherever it ran and started here, inside
# the namespace, before any program. With "fresh", the prefix is made anew
# under DIR, which is emptied first.
start_wineserver() {  # [fresh DIR]
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [ "${1:-}" != fresh ] || rm -rf "$2"
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
}
