# Shell functions shared by the scripts that start private MariaDB servers for the tests
# (private-mariadb.sh, private-replica.sh); sourced, never run. Each server lives in a
# folder of its own under /tmp (socket paths are limited to 107 bytes): its data, its
# socket mysqld.sock, its pid file mariadbd.pid and its error.log.
#
# $root, when set, is a system made by trixie-chroot.sh whose server is run in it with
# chroot; the caller sets it (absolute) before calling these, and $me, its own name for
# messages.

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
    echo "$me: none of $* is installed in ${system:-/} (apt-get install mariadb-server)" >&2
    return 1
}

# in_root DIR COMMAND...: runs the command here, or in $root with the server folder DIR
# bound into it at the same path, in a mount namespace that lives as long as the command,
# so that the socket is reached from here, no mount is seen outside and none outlives the
# server.
in_root() {
    dir=$1
    shift
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

# new_server_dir: makes a server folder (and its mount point in $root) and prints it.
new_server_dir() {
    made=$(mktemp -d /tmp/qvdb.XXXXXX)
    chmod 755 "$made"
    [ -z "$root" ] || mkdir -p "$root$made"
    echo "$made"
}

# find_server_programs: sets $server and $install_db (in $root, or here) and $admin and
# $client (this machine's: they ask either server).
find_server_programs() {
    server=$(find_program "$root" mariadbd mysqld)
    install_db=$(find_program "$root" mariadb-install-db mysql_install_db)
    admin=$(find_program "" mariadb-admin mysqladmin)
    client=$(find_program "" mariadb mysql)
}

# install_data DIR: a new data directory in DIR where root logs in with an empty
# password. Prints the installer's output and returns 1 when it fails.
install_data() {
    in_root "$1" "$install_db" --no-defaults --auth-root-authentication-method=normal \
        --datadir="$1/data" --user="$(id -un)" > "$1/install.log" 2>&1 ||
        { cat "$1/install.log" >&2; return 1; }
}

# start_server DIR OPTION...: starts the server of DIR with the options given and waits,
# at most 60 s, until it answers on its socket. Returns 1, with its error log on standard
# error unless QV_QUIET_FAILURE is set, when it ended or did not answer.
start_server() {
    dir=$1
    shift
    # A subshell, so that no copy of the caller's output stays open while the server
    # runs (a shell keeps one around a function's redirection; ctest waits for it).
    (in_root "$dir" "$server" --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" \
        --user="$(id -un)" --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" \
        --innodb-buffer-pool-size=32M "$@") > /dev/null 2>&1 &
    started=$!
    i=0
    until "$admin" --no-defaults --socket="$dir/mysqld.sock" -uroot ping > /dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 600 ] || ! kill -0 "$started" 2>/dev/null; then
            [ -n "${QV_QUIET_FAILURE:-}" ] || { echo "$me: the server in $dir did not start:" >&2;
                                               cat "$dir/error.log" >&2 || true; }
            return 1
        fi
        sleep 0.1
    done
}

# stop_server_dir DIR [ROOT]: stops the server of DIR and removes DIR (and its mount point
# in ROOT).
stop_server_dir() {
    if [ -f "$1/mariadbd.pid" ]; then
        pid=$(cat "$1/mariadbd.pid")
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    case "$1" in /tmp/qvdb.*) rm -rf "$1" ;; esac
    [ -z "${2:-}" ] || rmdir "$2$1" 2>/dev/null || true
}
