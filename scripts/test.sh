#!/bin/sh
# Builds the tool and runs every test three times: plain, under the address and
# undefined-behaviour sanitizers, and under the thread sanitizer. Warnings are errors.
# Then each fuzzing harness runs for 10 seconds (scripts/fuzz.sh), and the Windows build
# runs its tests under Wine (scripts/build-windows.sh --test). QV_SKIP_WINDOWS=1 leaves the
# Windows leg out of a quick local run; CI (CI set) refuses it.
# Each configuration builds in build/<name>; the private MariaDB server the tests use
# is started and stopped by the tests themselves.
set -eu
cd "$(dirname "$0")/.."
if [ -n "${QV_SKIP_WINDOWS:-}" ] && [ -n "${CI:-}" ]; then
    echo "test: CI runs the Windows leg; QV_SKIP_WINDOWS is refused there" >&2
    exit 2
fi
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
if [ -n "${QV_SKIP_WINDOWS:-}" ]; then
    echo "all tests passed: plain, address+undefined, thread; fuzzing found nothing"
    echo "test: the Windows leg was skipped (QV_SKIP_WINDOWS)"
    exit 0
fi
echo "==== windows ===="
scripts/build-windows.sh --test
echo "all tests passed: plain, address+undefined, thread, Windows under Wine; fuzzing found nothing"
