#!/bin/sh
# Builds the libFuzzer harnesses (fuzz/) with clang under the address and undefined-
# behaviour sanitizers in build/fuzz, and runs each one for SECONDS seconds from its seed
# corpus fuzz/corpus/<name>/. The seeds are copied to a scratch corpus first
# (build/fuzz/scratch/<name>/), so that what a run learns never lands in the repository.
#
#     scripts/fuzz.sh SECONDS
#
# Prints one line per harness with its executions. Exits 1 when any harness found
# something (a crash, a leak, a sanitizer report, a time-out, a broken property), and
# keeps each reproducer in build/fuzz/findings/<name>/; replay one with
# build/fuzz/fuzz/qv_fuzz_<name> <reproducer>. Works from any directory.
set -eu
usage() {
    echo "usage: scripts/fuzz.sh SECONDS (whole seconds per harness, at least 1)" >&2
    exit 2
}
[ $# -eq 1 ] || usage
case $1 in '' | *[!0-9]*) usage ;; esac
[ "$1" -ge 1 ] || usage
seconds=$1
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
build=$root/build/fuzz
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DQV_BUILD_FUZZERS=ON -DBUILD_TESTING=OFF \
    -DQV_WERROR=ON > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$jobs" > "$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

# Sanitizer reports with their stacks; a leak is a finding like a crash.
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

echo "fuzzing each harness for $seconds s (logs in $build/logs/)"
mkdir -p "$build/logs"
found=0
for seeds in fuzz/corpus/*/; do
    name=$(basename "$seeds")
    harness=$build/fuzz/qv_fuzz_$name
    scratch=$build/scratch/$name
    findings=$build/findings/$name
    log=$build/logs/$name.log
    [ -x "$harness" ] || { echo "fuzz: no harness built for the corpus $seeds" >&2; exit 1; }
    rm -rf "$scratch"
    mkdir -p "$scratch" "$findings"
    cp "$seeds"* "$scratch/"
    # The option file's reader also starts from the option files of this machine's
    # MariaDB packages, where there are any.
    if [ "$name" = option_reader ]; then
        for file in /etc/mysql/*.cnf /etc/mysql/*/*.cnf; do
            [ -f "$file" ] && cp "$file" "$scratch/etc-mysql-$(echo "$file" | tr / -)"
        done
    fi
    status=0
    # Inputs up to 8 KiB (masking keeps texts over 4 KiB on the heap), or up to the
    # largest seed, so that every seed is tried whole.
    max_len=8192
    for seed in "$seeds"*; do
        size=$(wc -c < "$seed")
        [ "$size" -gt "$max_len" ] && max_len=$size
    done
    "$harness" -max_total_time="$seconds" -timeout=30 -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$scratch" > "$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    # libFuzzer names each reproducer it keeps (crash, leak, time-out, out of memory).
    new=$(sed -n 's/^.*Test unit written to //p' "$log")
    if [ "$status" -eq 0 ] && [ -z "$new" ]; then
        printf '%-15s %10s executions, nothing found\n' "$name" "${runs:-?}"
    else
        found=1
        printf '%-15s %10s executions, FOUND (exit %s, log %s)\n' "$name" "${runs:-?}" \
            "$status" "$log"
        grep -m 3 -E '^(==[0-9]+==ERROR|SUMMARY|==== property)' "$log" | sed 's/^/    /' || true
        for file in $new; do
            echo "    reproducer: $file"
        done
    fi
done
if [ "$found" -ne 0 ]; then
    echo "fuzz: findings above; replay a reproducer with build/fuzz/fuzz/qv_fuzz_<name> <file>" >&2
    exit 1
fi
echo "fuzz: nothing found"
