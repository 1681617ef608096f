#!/bin/sh
# Runs a Windows program under Wine for the tests; CTest puts it before each Windows test
# program (the cross build's emulator), and the end-to-end script runs the tool with it.
#
#     wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# PREFIX is the tests' private Wine prefix: made on first use (about 15 s, 700 MB) and set
# to Windows 10 (Wine 8 makes Windows 7 prefixes), then kept. Wine opens sockets and windows in the prefix's wineserver, so the server is
# stopped before the run (one started elsewhere, outside a network namespace say, would
# otherwise serve it) and waited for after it, so that nothing of the run outlives the
# call. Every Wine call is bounded: QV_WINE_TIMEOUT seconds (default 600) for the program.
# QV_WINE_UMASK, when set, is the umask the program runs with: Wine gives a file the
# access list that its mode bits say. Exits with the program's status; 124 when it timed
# out.
set -eu
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM [ARGUMENTS...]" >&2; exit 2; }
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs in a new prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

ready=$prefix/.qv-windows-10
if [ ! -f "$ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    { timeout 300 wine wineboot --init && timeout 120 wine winecfg /v win10 &&
        timeout 120 wineserver -w; } > "$prefix.log" 2>&1 ||
        { cat "$prefix.log" >&2; echo "wine-run: cannot make the Wine prefix $prefix" >&2; exit 1; }
    touch "$ready"
fi

timeout 30 wineserver -k 2> /dev/null || true
[ -z "${QV_WINE_UMASK:-}" ] || umask "$QV_WINE_UMASK"
status=0
timeout "${QV_WINE_TIMEOUT:-600}" wine "$@" || status=$?
# A program that timed out may leave others of the run behind.
[ "$status" -ne 124 ] || timeout 30 wineserver -k 2> /dev/null || true
timeout 60 wineserver -w || true
exit "$status"
