#!/bin/sh
# Starts or stops a private three-node MariaDB Galera cluster for the tests.
#
#   galera-cluster.sh start STATE_DIR    start the nodes, record them in STATE_DIR
#   galera-cluster.sh stop STATE_DIR     stop them and remove their data
#
# Three mariadbd nodes with galera-4 on 127.0.0.1, in a network namespace of their own
# (unshare -n, its loopback up), so that their ports (SQL 3307-3309, group communication
# 4567/4577/4587, incremental transfer 4568/4578/4588, state transfer 4444/4454/4464)
# meet nothing else on this machine or another cluster of a parallel test run. Tests
# and the tool reach each node through its socket, which crosses namespaces:
# STATE_DIR/node<N>/socket holds node N's socket path once the cluster is whole. Node 1
# bootstraps the cluster (--wsrep-new-cluster); nodes 2 and 3 join one after the other
# and get their data by rsync state transfer. The nodes run as the mysql user (the
# rsync transfer fails as root), each with its own tmpdir, small buffer pool, redo log
# and gcache; root logs in with an empty password, as on private-mariadb.sh's server.
# A start that fails stops what it started. Needs root (network namespace, mysql user).
set -eu
action=${1:-}
state=${2:-}
[ -n "$action" ] && [ -n "$state" ] || { echo "usage: $0 start|stop STATE_DIR" >&2; exit 2; }
nodes="1 2 3"

# Stops every node that STATE_DIR records, all at once, and removes their folder.
stop_cluster() {
    [ -f "$state/cluster-dir" ] || return 0
    dir=$(cat "$state/cluster-dir")
    pids=""
    for n in $nodes; do
        rm -f "$state/node$n/socket"
        [ -f "$dir/node$n/mariadbd.pid" ] || continue
        pid=$(cat "$dir/node$n/mariadbd.pid")
        kill "$pid" 2> /dev/null && pids="$pids $pid"
    done
    for pid in $pids; do
        i=0
        while kill -0 "$pid" 2> /dev/null && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2> /dev/null || true
    done
    case "$dir" in /tmp/qvgal.*) rm -rf "$dir" ;; esac
    rm -f "$state/cluster-dir"
}

# A status variable of node N, or nothing while it does not answer.
node_status() {
    mariadb --no-defaults --socket="$dir/node$1/mysqld.sock" -uroot -N -B \
        -e "SHOW GLOBAL STATUS LIKE '$2'" 2> /dev/null | cut -f2
}

# Starts node N in the background (further arguments go to mariadbd) and waits, at most
# 120 s, until it is synced in a primary component of N nodes.
start_node() {
    n=$1
    shift
    at=$((n - 1))
    node=$dir/node$n
    peers=gcomm://127.0.0.1:4567,127.0.0.1:4577,127.0.0.1:4587
    mariadbd --no-defaults --user=mysql --datadir="$node/data" --tmpdir="$node/tmp" \
        --socket="$node/mysqld.sock" --pid-file="$node/mariadbd.pid" --log-error="$node/error.log" \
        --bind-address=127.0.0.1 --port=$((3307 + at)) \
        --innodb-buffer-pool-size=16M --innodb-log-file-size=16M \
        --binlog-format=ROW --innodb-autoinc-lock-mode=2 \
        --wsrep-on=ON --wsrep-provider="$provider" --wsrep-cluster-name=qv-test \
        --wsrep-cluster-address="$peers" --wsrep-node-name="node$n" \
        --wsrep-node-address="127.0.0.1:$((4567 + 10 * at))" \
        --wsrep-provider-options="ist.recv_addr=127.0.0.1:$((4568 + 10 * at));gcache.size=16M" \
        --wsrep-sst-method=rsync --wsrep-sst-receive-address="127.0.0.1:$((4444 + 10 * at))" \
        "$@" > /dev/null 2>&1 &
    i=0
    until [ "$(node_status "$n" wsrep_local_state_comment)" = Synced ] &&
        [ "$(node_status "$n" wsrep_cluster_size)" = "$n" ]; do
        i=$((i + 1))
        if [ $i -gt 1200 ] || ! kill -0 $! 2> /dev/null; then
            echo "galera-cluster: node $n did not join; its error log:" >&2
            tail -n 40 "$node/error.log" >&2 || true
            stop_cluster
            exit 1
        fi
        sleep 0.1
    done
}

case "$action" in
start)
    if [ -z "${QV_IN_NETWORK_NAMESPACE:-}" ]; then
        [ "$(id -u)" -eq 0 ] || { echo "galera-cluster: needs root (network namespace, nodes run as mysql)" >&2; exit 1; }
        mkdir -p "$state"
        stop_cluster
        exec unshare -n env QV_IN_NETWORK_NAMESPACE=1 sh "$0" "$@"
    fi
    ip link set lo up
    provider=/usr/lib/galera/libgalera_smm.so
    for need in mariadbd mariadb-install-db rsync ss ps; do
        command -v "$need" > /dev/null 2>&1 ||
            { echo "galera-cluster: $need is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
    done
    [ -f "$provider" ] || { echo "galera-cluster: $provider is missing (apt-get install galera-4)" >&2; exit 1; }
    id mysql > /dev/null 2>&1 || { echo "galera-cluster: no mysql user (apt-get install mariadb-server)" >&2; exit 1; }
    started=$(date +%s)
    dir=$(mktemp -d /tmp/qvgal.XXXXXX)
    chmod 755 "$dir"
    echo "$dir" > "$state/cluster-dir"
    for n in $nodes; do mkdir -p "$dir/node$n/data" "$dir/node$n/tmp" "$state/node$n"; done
    chown -R mysql:mysql "$dir"
    if ! mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
            --datadir="$dir/node1/data" --user=mysql > "$dir/install.log" 2>&1; then
        cat "$dir/install.log" >&2
        stop_cluster
        exit 1
    fi
    start_node 1 --wsrep-new-cluster
    start_node 2
    start_node 3
    for n in $nodes; do echo "$dir/node$n/mysqld.sock" > "$state/node$n/socket"; done
    echo "private Galera cluster of 3 nodes synced in $(($(date +%s) - started)) s; sockets in $dir"
    ;;
stop)
    stop_cluster
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
