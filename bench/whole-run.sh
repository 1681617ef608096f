#!/bin/sh
# Times whole runs of the tool against a private MariaDB server and, in the same run,
# the same eighteen statements sent by the mariadb command-line client in three
# invocations (one connection per account, as the tool makes them). Prints the median
# wall time of each over RUNS runs and their ratio.
#
#   bench/whole-run.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 30)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-30}
case "$build" in /*) ;; *) build=$(pwd)/$build ;; esac
tool=$build/WinGUI/VADedeVeZovid
[ -x "$tool" ] || { echo "build the tool first: scripts/run.sh, or cmake --build $build" >&2; exit 1; }
client=$(command -v mariadb || command -v mysql)

server=$(pwd)/tests/support/private-mariadb.sh
state=$(mktemp -d /tmp/qv-bench-state.XXXXXX)
"$server" start "$state" > /dev/null
work=$(mktemp -d /tmp/qv-bench-work.XXXXXX)
trap '"$server" stop "$state"; rm -rf "$state" "$work"' EXIT
socket=$(cat "$state/socket")

# The statements the tool sends, per account, as the client sends them.
data="ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE"
admin="FILE,PROCESS,RELOAD,SHUTDOWN"
level0() { # name password
    echo "GRANT ALL ON *.* TO '$1' IDENTIFIED BY '$2' WITH GRANT OPTION;"
    echo "GRANT ALL ON *.* TO '$1'@'localhost' IDENTIFIED BY '$2' WITH GRANT OPTION;"
}
level3() {
    echo "GRANT $data ON *.* TO '$1' IDENTIFIED BY '$2';"
    echo "GRANT $data ON *.* TO '$1'@'localhost' IDENTIFIED BY '$2';"
    echo "REVOKE GRANT OPTION ON *.* FROM '$1';"
    echo "REVOKE GRANT OPTION ON *.* FROM '$1'@'localhost';"
    echo "REVOKE $admin ON *.* FROM '$1';"
    echo "REVOKE $admin ON *.* FROM '$1'@'localhost';"
    echo "GRANT RELOAD ON *.* TO '$1' IDENTIFIED BY '$2';"
    echo "GRANT RELOAD ON *.* TO '$1'@'localhost' IDENTIFIED BY '$2';"
}
level0 QuorvaneInternal 'Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6' > "$work/account1.sql"
level3 QuOrvAneIndeX 'm4hqzwtyop71v652kdnx;r-ploiuwbe3' > "$work/account2.sql"
level3 DUVidIdeRiv '3kvb720w8r65xkc1m7tbqgzwy519vn2d' > "$work/account3.sql"

now_us() { echo $(( $(date +%s%N) / 1000 )); }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

cd "$work"
MYSQL_UNIX_PORT=$socket "$tool" 2> /dev/null || { echo "the tool failed against the private server" >&2; exit 1; }
: > tool.times
: > client.times
i=0
while [ $i -lt "$runs" ]; do
    # interleaved, so that both see the same machine
    t0=$(now_us)
    MYSQL_UNIX_PORT=$socket "$tool" 2> /dev/null
    t1=$(now_us)
    for n in 1 2 3; do
        "$client" --no-defaults --socket="$socket" -uroot -D mysql < "account$n.sql"
    done
    t2=$(now_us)
    echo $((t1 - t0)) >> tool.times
    echo $((t2 - t1)) >> client.times
    i=$((i + 1))
done
tool_median=$(median < tool.times)
client_median=$(median < client.times)
echo "runs: $runs"
echo "tool (one process, 3 connections, 18 statements, log file): median ${tool_median} us"
echo "mariadb client (3 processes, 3 connections, 18 statements):  median ${client_median} us"
awk -v a="$tool_median" -v b="$client_median" 'BEGIN { printf "ratio tool / client: %.2f\n", a / b }'
