#!/bin/sh
# Starts or stops a private MariaDB server for the tests and the demonstration.
#
#   private-mariadb.sh start STATE_DIR [ROOT]   start a server, record it in STATE_DIR
#   private-mariadb.sh stop STATE_DIR           stop it and remove its data
#
# The server has its own data directory and socket (in a short path under /tmp, since
# socket paths are limited to 107 bytes), no TCP port, and "root" logs in with an empty
# password, as on a freshly installed target machine. The machine's own server is never
# used or changed. STATE_DIR/socket holds the socket path once the server answers.
#
# With ROOT (a system made by trixie-chroot.sh), the server is that system's, run in it
# with chroot (server-lib.sh's in_root); STATE_DIR/root then names ROOT, so that a test
# can start more servers of the same system. Needs root.
set -eu
me=private-mariadb
. "$(dirname "$0")/server-lib.sh"

action=${1:-}
state=${2:-}
root=${3:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR [ROOT]" >&2; exit 2; }

stop_server() {
    [ -f "$state/server-dir" ] || return 0
    stop_server_dir "$(cat "$state/server-dir")" "$(cat "$state/root" 2>/dev/null || true)"
    rm -f "$state/server-dir" "$state/socket" "$state/root"
}

case "$action" in
start)
    mkdir -p "$state"
    stop_server
    if [ -n "$root" ]; then
        [ "$(id -u)" -eq 0 ] || { echo "$me: a server in $root needs root (chroot)" >&2; exit 1; }
        [ -d "$root/tmp" ] || { echo "$me: no system in $root (trixie-chroot.sh makes one)" >&2; exit 1; }
        root=$(cd "$root" && pwd)
        echo "$root" > "$state/root"
    fi
    find_server_programs
    dir=$(new_server_dir)
    echo "$dir" > "$state/server-dir"
    if ! install_data "$dir" || ! start_server "$dir" --skip-networking; then
        stop_server
        exit 1
    fi
    echo "$dir/mysqld.sock" > "$state/socket"
    echo "private MariaDB $("$admin" --no-defaults --socket="$dir/mysqld.sock" -uroot version |
        sed -n 's/^Server version[[:space:]]*//p') answers on $dir/mysqld.sock"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR [ROOT]" >&2
    exit 2
    ;;
esac
