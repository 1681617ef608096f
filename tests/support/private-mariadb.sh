#!/bin/sh
# Starts or stops a private MariaDB server for the tests and the demonstration.
#
#   private-mariadb.sh start STATE_DIR    start a server, record it in STATE_DIR
#   private-mariadb.sh stop STATE_DIR     stop it and remove its data
#
# The server has its own data directory and socket (in a short path under /tmp, since
# socket paths are limited to 107 bytes), no TCP port, and "root" logs in with an empty
# password, as on a freshly installed target machine. The machine's own server is never
# used or changed. STATE_DIR/socket holds the socket path once the server answers.
set -eu

action=${1:-}
state=${2:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR" >&2; exit 2; }

find_program() {
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
        for dir in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
            [ -x "$dir/$candidate" ] && { echo "$dir/$candidate"; return 0; }
        done
    done
    echo "private-mariadb: none of $* is installed (apt-get install mariadb-server)" >&2
    return 1
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
    rm -f "$state/server-dir" "$state/socket"
}

case "$action" in
start)
    mkdir -p "$state"
    stop_server
    server=$(find_program mariadbd mysqld)
    install_db=$(find_program mariadb-install-db mysql_install_db)
    admin=$(find_program mariadb-admin mysqladmin)
    user=$(id -un)
    dir=$(mktemp -d /tmp/qvdb.XXXXXX)
    chmod 755 "$dir"
    echo "$dir" > "$state/server-dir"
    if ! "$install_db" --no-defaults --auth-root-authentication-method=normal \
            --datadir="$dir/data" --user="$user" > "$dir/install.log" 2>&1; then
        cat "$dir/install.log" >&2
        stop_server
        exit 1
    fi
    "$server" --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" \
        --skip-networking --user="$user" --pid-file="$dir/mariadbd.pid" \
        --log-error="$dir/error.log" --innodb-buffer-pool-size=32M > /dev/null 2>&1 &
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
    echo "private MariaDB answers on $dir/mysqld.sock"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
