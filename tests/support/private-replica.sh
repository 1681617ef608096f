#!/bin/sh
# Starts or stops a private MariaDB source and a replica of it, for the tests of a run
# aimed at a replica.
#
#   private-replica.sh start STATE_DIR    start both, record them in STATE_DIR
#   private-replica.sh stop STATE_DIR     stop them and remove their data
#
# Each server has its own data directory and socket in a short path under /tmp, and
# "root" logs in with an empty password. The source writes a binary log and listens on
# 127.0.0.1 only, on a free port above 20000 (replication connects over TCP); the
# replica replicates from it with GTIDs and takes no connection but its socket. The
# machine's own server is never used or changed. Once the replica's replication runs,
# STATE_DIR/source-socket and STATE_DIR/replica-socket hold the sockets.
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
    echo "private-replica: none of $* is installed (apt-get install mariadb-server)" >&2
    return 1
}

stop_servers() {
    [ -f "$state/replica-dirs" ] || return 0
    for dir in $(cat "$state/replica-dirs"); do
        if [ -f "$dir/mariadbd.pid" ]; then
            pid=$(cat "$dir/mariadbd.pid")
            kill "$pid" 2>/dev/null || true
            i=0
            while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
            kill -9 "$pid" 2>/dev/null || true
        fi
        case "$dir" in /tmp/qvrp.*) rm -rf "$dir" ;; esac
    done
    rm -f "$state/replica-dirs" "$state/source-socket" "$state/replica-socket"
}

fail() {
    echo "private-replica: $1" >&2
    for log in "$source/error.log" "$replica/error.log"; do
        [ -f "$log" ] && tail -n 20 "$log" >&2
    done
    stop_servers
    exit 1
}

# Starts a server in directory $1 with the options that follow; waits until it answers
# on its socket. Returns 1 when it ended before answering.
start_server() {
    dir=$1; shift
    "$server" --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" --user="$user" \
        --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" \
        --innodb-buffer-pool-size=32M "$@" > /dev/null 2>&1 &
    pid=$!
    i=0
    until "$admin" --no-defaults --socket="$dir/mysqld.sock" -uroot ping > /dev/null 2>&1; do
        kill -0 "$pid" 2>/dev/null || return 1
        i=$((i + 1))
        [ $i -gt 600 ] && fail "the server in $dir did not start"
        sleep 0.1
    done
}

sql() {
    "$client" --no-defaults --socket="$1/mysqld.sock" -uroot -N -B -e "$2"
}

case "$action" in
start)
    mkdir -p "$state"
    stop_servers
    server=$(find_program mariadbd mysqld)
    install_db=$(find_program mariadb-install-db mysql_install_db)
    admin=$(find_program mariadb-admin mysqladmin)
    client=$(find_program mariadb mysql)
    user=$(id -un)
    source=$(mktemp -d /tmp/qvrp.XXXXXX)
    replica=$(mktemp -d /tmp/qvrp.XXXXXX)
    chmod 755 "$source" "$replica"
    echo "$source $replica" > "$state/replica-dirs"
    for dir in "$source" "$replica"; do
        "$install_db" --no-defaults --auth-root-authentication-method=normal \
            --datadir="$dir/data" --user="$user" > "$dir/install.log" 2>&1 ||
            fail "mariadb-install-db failed in $dir"
    done
    # A free port: the next one is tried while the server finds its port taken.
    port=$((20000 + $$ % 20000))
    tries=0
    until start_server "$source" --server-id=1 --log-bin=source-bin --port="$port" \
            --bind-address=127.0.0.1; do
        grep -q "Address already in use" "$source/error.log" 2>/dev/null ||
            fail "the source did not start"
        tries=$((tries + 1))
        [ $tries -lt 20 ] || fail "no free port for the source"
        port=$((port + 1))
        rm -f "$source/error.log"
    done
    start_server "$replica" --server-id=2 --skip-networking || fail "the replica did not start"
    sql "$source" "CREATE USER 'qv_replication'@'127.0.0.1' IDENTIFIED BY 'Repl-pw-1';
                   GRANT REPLICATION SLAVE ON *.* TO 'qv_replication'@'127.0.0.1'"
    sql "$replica" "CHANGE MASTER TO MASTER_HOST = '127.0.0.1', MASTER_PORT = $port,
                    MASTER_USER = 'qv_replication', MASTER_PASSWORD = 'Repl-pw-1',
                    MASTER_USE_GTID = slave_pos; START SLAVE"
    # The replication runs once the replica has applied what the source wrote so far.
    i=0
    until [ "$(sql "$replica" "SELECT MASTER_GTID_WAIT('$(sql "$source" \
            "SELECT @@gtid_binlog_pos")', 1)")" = 0 ]; do
        i=$((i + 1))
        [ $i -gt 60 ] && fail "the replica did not catch up with the source"
    done
    echo "$source/mysqld.sock" > "$state/source-socket"
    echo "$replica/mysqld.sock" > "$state/replica-socket"
    echo "private MariaDB source on $source/mysqld.sock (port $port), replica on $replica/mysqld.sock"
    ;;
stop)
    stop_servers
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
