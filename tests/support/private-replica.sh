#!/bin/sh
# Starts or stops a private MariaDB source and a replica of it, for the tests of a run
# aimed at a replica.
#
#   private-replica.sh start STATE_DIR [ROOT]   start both, record them in STATE_DIR
#   private-replica.sh stop STATE_DIR           stop them and remove their data
#
# Each server has its own data directory and socket in a short path under /tmp, and
# "root" logs in with an empty password. The source writes a binary log and listens on
# 127.0.0.1 only, on a free port above 20000 (replication connects over TCP); the
# replica replicates from it with GTIDs and takes no connection but its socket. With
# ROOT, both are the servers of that system (as private-mariadb.sh runs them). The
# machine's own server is never used or changed. Once the replica's replication runs,
# STATE_DIR/source-socket and STATE_DIR/replica-socket hold the sockets.
set -eu
me=private-replica
. "$(dirname "$0")/server-lib.sh"

action=${1:-}
state=${2:-}
root=${3:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR [ROOT]" >&2; exit 2; }

stop_servers() {
    [ -f "$state/replica-dirs" ] || return 0
    for server_dir in $(cat "$state/replica-dirs"); do
        stop_server_dir "$server_dir" "$(cat "$state/root" 2>/dev/null || true)"
    done
    rm -f "$state/replica-dirs" "$state/source-socket" "$state/replica-socket" "$state/root"
}

fail() {
    echo "$me: $1" >&2
    stop_servers
    exit 1
}

sql() {
    "$client" --no-defaults --socket="$1/mysqld.sock" -uroot -N -B -e "$2"
}

case "$action" in
start)
    mkdir -p "$state"
    stop_servers
    if [ -n "$root" ]; then
        root=$(cd "$root" && pwd)
        echo "$root" > "$state/root"
    fi
    find_server_programs
    source=$(new_server_dir)
    replica=$(new_server_dir)
    echo "$source $replica" > "$state/replica-dirs"
    install_data "$source" && install_data "$replica" || fail "the data directories were not made"
    # A free port: the next one is tried while the server finds its port taken.
    port=$((20000 + $$ % 20000))
    tries=0
    until QV_QUIET_FAILURE=1 start_server "$source" --server-id=1 --log-bin=source-bin \
            --port="$port" --bind-address=127.0.0.1; do
        grep -q "Address already in use" "$source/error.log" 2>/dev/null ||
            { cat "$source/error.log" >&2; fail "the source did not start"; }
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
    echo "usage: $0 start|stop STATE_DIR [ROOT]" >&2
    exit 2
    ;;
esac
