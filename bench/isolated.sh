# Sourced by the benchmarks that start the program or its window on Xvfb.
# `isolate "$0" "$@"` runs the script again in a private network namespace,
# unless it already runs in one: the program announces itself on every
# network it sees. It gets X displays of its own too: Xvfb servers in
# other namespaces may take the same display number and its socket file in
# /tmp/.X11-unix.
isolate() {
  [ "$(ip -o link show | awk -F': ' '{ print $2 }')" != lo ] || return 0
  [ -z "${WENDRIX_BENCH_ISOLATED:-}" ] || { echo "cannot make a private network namespace" >&2; exit 1; }
  export WENDRIX_BENCH_ISOLATED=1
  local ns=(unshare -nm)
  [ "$(id -u)" -eq 0 ] || ns=(unshare -rnm)
  exec "${ns[@]}" -- bash -c 'ip link set lo up && mkdir -p -m 1777 /tmp/.X11-unix &&
    mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix && exec "$0" "$@"' "$@"
}
