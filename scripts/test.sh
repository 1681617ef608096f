#!/bin/sh
# Builds the tool and runs every test three times: plain, under the address and
# undefined-behaviour sanitizers, and under the thread sanitizer. Warnings are errors.
# Then each fuzzing harness runs for 10 seconds (scripts/fuzz.sh).
# Each configuration builds in build/<name>; the private MariaDB server the tests use
# is started and stopped by the tests themselves.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
run() {
    name=$1; shift
    echo "==== $name ===="
    cmake -S . -B "build/$name" -DQV_WERROR=ON "$@" > "build/$name.configure.log" 2>&1 ||
        { cat "build/$name.configure.log"; exit 1; }
    cmake --build "build/$name" -j "$jobs"
    (cd "build/$name" && ctest --output-on-failure -j "$jobs")
}

mkdir -p build
run plain
run address -DQV_SANITIZE_ADDRESS=ON
run thread -DQV_SANITIZE_THREAD=ON
echo "==== fuzz ===="
scripts/fuzz.sh 10
echo "all tests passed: plain, address+undefined, thread; fuzzing found nothing"
