#!/bin/sh
# Runs the reliability campaign and prints its figures as one table:
#
#     scripts/reliability.sh [FUZZ_SECONDS]      (default 60 seconds per harness)
#
#   - the whole run under every allocation fault (plain build: every point; address and
#     undefined-behaviour sanitizers with the leak check: every point too, unless
#     QV_FAULT_STRIDE names a stride) and under every client fault;
#   - the real client library losing its connection at each login and statement of a
#     run, and finding it closed between statements (the relay);
#   - valgrind's memcheck on the built tool: a successful run, a run whose statement the
#     server refuses, a run without a server;
#   - the log file's failures (a full device, links, a file held by another instance)
#     and stop signals during a statement held behind a lock;
#   - every libFuzzer harness for FUZZ_SECONDS seconds (scripts/fuzz.sh).
#
# The campaign takes a while (the allocation sweep under the sanitizers is the longest
# part). Exits non-zero when anything failed or was found. The figures go to
# doc/RELIABILITY.md by hand, with the date and the machine this prints.
set -eu
fuzz_seconds=${1:-60}
case $fuzz_seconds in '' | *[!0-9]*) echo "usage: $0 [FUZZ_SECONDS]" >&2; exit 2 ;; esac
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
out=build/reliability
rm -rf "$out"
mkdir -p "$out"
failed=0

# Builds configuration name in build/name and runs the campaign's tests there; their
# figure lines go to $out/name.figures.
campaign() {
    name=$1; shift
    cmake -S . -B "build/$name" -DQV_WERROR=ON "$@" > "$out/$name.configure.log" 2>&1 ||
        { cat "$out/$name.configure.log"; exit 1; }
    cmake --build "build/$name" -j "$jobs" > "$out/$name.build.log" 2>&1 ||
        { cat "$out/$name.build.log"; exit 1; }
    (cd "build/$name" &&
        ctest -j "$jobs" -V -R 'mariadb|WholeRun|ConnectionLost|Memcheck|LogOnStandardError|StopSignal|LogFileTest') \
        > "$out/$name.log" 2>&1 || { failed=1; echo "$name: a test failed, see $out/$name.log"; }
    sed -n 's/^[0-9]*: \[ figures  \] //p' "$out/$name.log" > "$out/$name.figures"
}

# Every allocation fault point, in both builds, unless a stride is named.
QV_FAULT_STRIDE=${QV_FAULT_STRIDE:-1}
export QV_FAULT_STRIDE
echo "campaign: plain build"
campaign plain
echo "campaign: address and undefined-behaviour sanitizers"
campaign address -DQV_SANITIZE_ADDRESS=ON
echo "campaign: fuzzing, $fuzz_seconds s a harness"
scripts/fuzz.sh "$fuzz_seconds" > "$out/fuzz.log" 2>&1 || failed=1

row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }
echo
echo "Reliability campaign, $(date -u +%Y-%m-%d), $(. /etc/os-release && echo "$PRETTY_NAME"),"
echo "$(uname -sr), $(uname -m), $jobs cores"
echo
row "Campaign" "Build" "Figures"
row "---" "---" "---"
for name in plain address; do
    while IFS= read -r figure; do
        case $figure in
        *allocation*) what="whole run, allocation faults" ;;
        *client*) what="whole run, client faults" ;;
        *relay*) what="relay: connection lost, and closed between statements" ;;
        *signals*) what="stop signals" ;;
        *standard\ error*) what="log on standard error (held, full device)" ;;
        valgrind*) what="valgrind memcheck" ;;
        *) what="other" ;;
        esac
        row "$what" "$name" "$figure"
    done < "$out/$name.figures"
done
sed -n 's/^\([a-z_]*\) *\([0-9?]*\) executions, \(.*\)$/\1 \2 \3/p' "$out/fuzz.log" |
    while read -r harness runs verdict; do
        row "fuzzing: $harness" "clang, address+undefined" "$runs executions, $verdict"
    done
echo
if [ "$failed" -ne 0 ]; then
    echo "reliability: something failed or was found; the logs are in $out/" >&2
    exit 1
fi
echo "reliability: all campaigns passed; no crash, no leak, no sanitizer report"
