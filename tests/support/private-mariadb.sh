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
# with chroot: its folder under /tmp is bound into ROOT at the same path, in a mount
# namespace that lives as long as the command, so that the socket is reached from here,
# no mount is seen outside and none outlives the server. Needs root.
set -eu

action=${1:-}
state=${2:-}
root=${3:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR [ROOT]" >&2; exit 2; }

# find_program SYSTEM NAME...: the path of the first program named that is installed in
# SYSTEM (a root folder; empty for this machine).
find_program() {
    system=$1
    shift
    for candidate in "$@"; do
        if [ -z "$system" ] && command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return 0
        fi
        for bin in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
            [ -x "$system$bin/$candidate" ] && { echo "$bin/$candidate"; return 0; }
        done
    done
    echo "private-mariadb: none of $* is installed in ${system:-/} (apt-get install mariadb-server)" >&2
    return 1
}

# Runs a command here, or in ROOT with the server's folder $dir bound into it.
in_root() {
    if [ -z "$root" ]; then
        "$@"
        return
    fi
    unshare -m --propagation private sh -eu -c '
        root=$1 dir=$2
        shift 2
        mount --bind "$dir" "$root$dir"
        exec chroot "$root" "$@"' in_root "$root" "$dir" "$@"
}

stop_server() {
    [ -f "$state/server-dir" ] || return 0
    dir=$(cat "$state/server-dir")
    if [ -f "$dir/mariadbd.pid" ]; then
        pid=$(cat "$dir/mariadbd.pid")
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    case "$dir" in /tmp/qvdb.*) rm -rf "$dir" ;; esac
    if [ -f "$state/root" ]; then
        rmdir "$(cat "$state/root")$dir" 2>/dev/null || true
    fi
    rm -f "$state/server-dir" "$state/socket" "$state/root"
}

case "$action" in
start)
    mkdir -p "$state"
    stop_server
    if [ -n "$root" ]; then
        [ "$(id -u)" -eq 0 ] || { echo "private-mariadb: a server in $root needs root (chroot)" >&2; exit 1; }
        [ -d "$root/tmp" ] || { echo "private-mariadb: no system in $root (trixie-chroot.sh makes one)" >&2; exit 1; }
        root=$(cd "$root" && pwd)
    fi
    server=$(find_program "$root" mariadbd mysqld)
    install_db=$(find_program "$root" mariadb-install-db mysql_install_db)
    admin=$(find_program "" mariadb-admin mysqladmin) # this machine's client asks either server
    user=$(id -un)
    dir=$(mktemp -d /tmp/qvdb.XXXXXX)
    chmod 755 "$dir"
    echo "$dir" > "$state/server-dir"
    if [ -n "$root" ]; then
        echo "$root" > "$state/root"
        mkdir -p "$root$dir"
    fi
    if ! in_root "$install_db" --no-defaults --auth-root-authentication-method=normal \
            --datadir="$dir/data" --user="$user" > "$dir/install.log" 2>&1; then
        cat "$dir/install.log" >&2
        stop_server
        exit 1
    fi
    # A subshell, so that no copy of this script's output stays open while the server
    # runs (a shell keeps one around a function's redirection; ctest waits for it).
    (in_root "$server" --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" \
        --skip-networking --user="$user" --pid-file="$dir/mariadbd.pid" \
        --log-error="$dir/error.log" --innodb-buffer-pool-size=32M) > /dev/null 2>&1 &
    i=0
    until "$admin" --no-defaults --socket="$dir/mysqld.sock" -uroot ping > /dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 600 ]; then
            echo "private-mariadb: the server did not start:" >&2
            cat "$dir/error.log" >&2 || true
            stop_server
            exit 1
        fi
        sleep 0.1
    done
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
