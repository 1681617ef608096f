#!/bin/sh
# Builds the tool and runs it.
#
# When a MySQL/MariaDB server answers on this machine's default socket, the tool runs
# against that server, as it would at an installation, and creates the service accounts
# there. Otherwise a private MariaDB server is started in build/release, the unchanged
# tool is aimed at it through the client library's MYSQL_UNIX_PORT, the accounts and
# grants it made are shown, and the private server is stopped again.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" > /dev/null
tool=$(pwd)/$build/WinGUI/VADedeVeZovid
# The tool writes VADedeVeZovid.log in its current directory: the build folder here.
log_dir=$(pwd)/$build

admin=$(command -v mariadb-admin || command -v mysqladmin || true)
if [ -n "$admin" ] && "$admin" --no-defaults -uroot ping > /dev/null 2>&1; then
    echo "A local server answers: running the tool against it."
    status=0
    (cd "$log_dir" && "$tool") || status=$?
    echo "VADedeVeZovid exited with status $status; its log is $log_dir/VADedeVeZovid.log"
    exit "$status"
fi

echo "No local server answers: starting a private MariaDB for the demonstration."
state=$(pwd)/$build/demo-mariadb
server=$(pwd)/tests/support/private-mariadb.sh
"$server" start "$state"
trap '"$server" stop "$state"' EXIT
socket=$(cat "$state/socket")
# The tool reads the administrator's ~/.my.cnf; yours is not meant for the private server.
home=$state/home
mkdir -p "$home"
status=0
(cd "$log_dir" && HOME=$home MYSQL_UNIX_PORT=$socket "$tool") || status=$?
echo "VADedeVeZovid exited with status $status; its log is $log_dir/VADedeVeZovid.log"
echo
echo "Accounts and grants on the private server:"
client=$(command -v mariadb || command -v mysql)
for account in QuorvaneInternal QuOrvAneIndeX DUVidIdeRiv; do
    for host in % localhost; do
        "$client" --no-defaults --socket="$socket" -uroot -N \
            -e "SHOW GRANTS FOR '$account'@'$host'" 2>/dev/null |
            sed -E "s/IDENTIFIED BY PASSWORD '[^']*'/IDENTIFIED BY PASSWORD '<hash>'/" || true
    done
done
exit "$status"
