#!/bin/sh
# Builds the tool and runs every test three times: plain, under the address and
# undefined-behaviour sanitizers, and under the thread sanitizer. Warnings are errors.
# The plain build's server tests then run against two more servers: MariaDB 11.8, the
# server of Debian 13, in a trixie system made once with debootstrap and kept in
# build/trixie; and a three-node Galera cluster on this machine. These two legs need root
# (chroot, namespaces, nodes run as the mysql user): without it they are skipped with a
# message; CI (CI set) refuses that.
# Then each fuzzing harness runs for 10 seconds (scripts/fuzz.sh), and the Windows build
# runs its tests under Wine (scripts/build-windows.sh --test). QV_SKIP_WINDOWS=1 leaves the
# Windows leg out of a quick local run; CI refuses it.
# Each configuration builds in build/<name>; the private MariaDB servers the tests use
# are started and stopped by the tests themselves (and stopped here should the run be
# cut short).
set -eu
cd "$(dirname "$0")/.."
if [ -n "${QV_SKIP_WINDOWS:-}" ] && [ -n "${CI:-}" ]; then
    echo "test: CI runs the Windows leg; QV_SKIP_WINDOWS is refused there" >&2
    exit 2
fi
servers=yes
if [ "$(id -u)" -ne 0 ]; then
    if [ -n "${CI:-}" ]; then
        echo "test: CI runs the MariaDB 11.8 and Galera legs, which need root" >&2
        exit 2
    fi
    servers=""
fi
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
build() {
    name=$1; shift
    echo "==== $name ===="
    cmake -S . -B "build/$name" -DQV_WERROR=ON "$@" > "build/$name.configure.log" 2>&1 ||
        { cat "build/$name.configure.log"; exit 1; }
    cmake --build "build/$name" -j "$jobs"
}
run() {
    build "$@"
    (cd "build/$1" && ctest --output-on-failure -j "$jobs")
}
# leg NAME TEST_REGEX: runs the plain build's tests of another server, and says how long.
leg() {
    echo "==== $1 ===="
    started=$(date +%s)
    (cd build/plain && ctest --output-on-failure -R "$2")
    echo "test: the $1 leg took $(($(date +%s) - started)) s"
}

# The servers' and the cluster's nodes stop with their tests, also when one fails; this
# stops them too when the run is interrupted.
stop_servers() {
    for state in build/*/test-mariadb build/plain/test-mariadb-11.8; do
        [ ! -d "$state" ] || tests/support/private-mariadb.sh stop "$state"
    done
    [ ! -d build/plain/test-galera ] || tests/support/galera-cluster.sh stop build/plain/test-galera
}
trap stop_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p build
other_servers='^(mariadb-11\.8\.|galera\.|GaleraClusterTest\.)'
if [ -n "$servers" ]; then
    build plain -DQV_TEST_MORE_SERVERS=ON -DQV_TRIXIE_ROOT="$(pwd)/build/trixie"
    (cd build/plain && ctest --output-on-failure -j "$jobs" -E "$other_servers")
    echo "==== Debian 13 system for MariaDB 11.8 ===="
    tests/support/trixie-chroot.sh "$(pwd)/build/trixie"
    leg "MariaDB 11.8" '^mariadb-11\.8\.'
    leg "Galera cluster" '^(galera\.|GaleraClusterTest\.)'
else
    run plain -DQV_TEST_MORE_SERVERS=OFF
    echo "test: the MariaDB 11.8 and Galera legs need root (chroot, namespaces, the mysql user); skipped"
fi
run address -DQV_SANITIZE_ADDRESS=ON
run thread -DQV_SANITIZE_THREAD=ON
echo "==== fuzz ===="
scripts/fuzz.sh 10
legs="plain${servers:+, MariaDB 11.8, Galera cluster}, address+undefined, thread"
if [ -n "${QV_SKIP_WINDOWS:-}" ]; then
    echo "all tests passed: $legs; fuzzing found nothing"
    echo "test: the Windows leg was skipped (QV_SKIP_WINDOWS)"
    [ -n "$servers" ] || echo "test: the MariaDB 11.8 and Galera legs were skipped (not root)"
    exit 0
fi
echo "==== windows ===="
scripts/build-windows.sh --test
echo "all tests passed: $legs, Windows under Wine; fuzzing found nothing"
[ -n "$servers" ] || echo "test: the MariaDB 11.8 and Galera legs were skipped (not root)"
