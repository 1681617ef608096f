#!/bin/sh
# End-to-end tests of the Windows build: the built VADedeVeZovid.exe under Wine, as an
# administrator runs it, in a private network namespace of its own, so that it can never
# reach a server of this machine.
#
#     end-to-end.sh server    PROGRAM_DIR WINEPREFIX   a run against a private MariaDB
#     end-to-end.sh no-server PROGRAM_DIR WINEPREFIX   a run without one, and a second
#                                                      instance while the first holds the log
#     end-to-end.sh planted-dll PROGRAM_DIR WINEPREFIX FAKE_SERVER PROBE_DLL
#                                                      a stand-in server that asks for a login
#                                                      method named as a DLL planted in the
#                                                      current folder
#
# PROGRAM_DIR holds VADedeVeZovid.exe and libmariadb.dll. The script runs itself again
# inside a new network namespace (unshare -n, which needs root) with only its loopback
# up, and starts there everything that opens a socket: MariaDB on 127.0.0.1:3306, Xvfb,
# and the prefix's wineserver (Wine opens sockets in the wineserver: one left running
# outside would take the connection outside). Prints one line per failed check; exits 1
# when any failed. QV_KEEP=1 keeps the scratch folder (/tmp/qv-windows.*) for a look.
set -eu
scenario=$1
program=$2/VADedeVeZovid.exe
prefix=$3
here=$(cd "$(dirname "$0")" && pwd)
results=$(pwd) # where the screenshot of the message box goes
if [ -z "${QV_IN_NAMESPACE:-}" ]; then
    exec unshare -n env QV_IN_NAMESPACE=1 sh "$0" "$@"
fi
ip link set lo up

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
dir=$(mktemp -d /tmp/qv-windows.XXXXXX)
server_pid=""
x_pid=""
cleanup() {
    timeout 30 wineserver -k 2> /dev/null || true
    [ -z "$server_pid" ] || { kill "$server_pid" 2> /dev/null; wait "$server_pid" || true; }
    [ -z "$x_pid" ] || { kill "$x_pid" 2> /dev/null; wait "$x_pid" || true; }
    [ -n "${QV_KEEP:-}" ] || rm -rf "$dir"
}
trap cleanup EXIT
mkdir "$dir/run"
# The administrator's option file is %USERPROFILE%\.my.cnf: none here.
rm -f "$prefix"/drive_c/users/*/.my.cnf

# The tool's log, which must have CRLF line ends, start with the Windows report, and
# (checked by the caller) say what the run did.
check_log() {
    log=$dir/run/VADedeVeZovid.log
    [ -s "$log" ] || { fail "no log file"; return; }
    lines=$(wc -l < "$log")
    crlf=$(grep -c "$(printf '\r')\$" "$log" || true)
    [ "$lines" -eq "$crlf" ] || fail "$((lines - crlf)) of $lines log lines do not end in CRLF"
    # The log is only ever grepped as a file: its Windows paths hold backslashes, and the
    # shell's echo reads "\c" (as in Z:\check\...) as the end of its output.
    sed -n '1,/VADedeVeZovid Application Started/p' "$log" | tr -d '\r' > "$dir/report"
    for line in 'INFO   : Running in ' 'INFO   : File .*VADedeVeZovid.exe info:' \
        'INFO   :   Language: English' \
        'INFO   :     FileVersion = 4.0.0.0' 'INFO   : OS.* Build' 'INFO   : Computer name: ' \
        'INFO   : RAM     Total' 'INFO   : Drive C Total .*Type: Fixed drive'; do
        grep -q "$line" "$dir/report" || fail "the report at the log's head lacks '$line'"
    done
}

run_server_scenario() {
    user=$(id -un)
    mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
        --datadir="$dir/data" --user="$user" > "$dir/install.log" 2>&1 ||
        { cat "$dir/install.log" >&2; exit 1; }
    mariadbd --no-defaults --datadir="$dir/data" --port=3306 --bind-address=127.0.0.1 \
        --socket="$dir/mysqld.sock" --user="$user" --log-error="$dir/error.log" \
        --general-log=1 --general-log-file="$dir/general.log" \
        --innodb-buffer-pool-size=32M > /dev/null 2>&1 &
    server_pid=$!
    i=0
    until mariadb-admin --no-defaults --socket="$dir/mysqld.sock" -uroot ping > /dev/null 2>&1; do
        i=$((i + 1))
        [ $i -lt 600 ] || { cat "$dir/error.log" >&2; exit 1; }
        sleep 0.1
    done

    status=0
    (cd "$dir/run" && sh "$here/wine-run.sh" "$prefix" "$program") > "$dir/out" 2>&1 || status=$?
    [ "$status" -eq 0 ] || { cat "$dir/out" >&2; fail "exit status $status, expected 0"; }
    check_log
    grep -q 'Closing log file' "$dir/run/VADedeVeZovid.log" || fail "the log does not end the run"

    # The tool's connections (TCP; the checks here use the socket): the run's one
    # detection of the server first on the first, then each account's statements, each
    # naming its account, on its own.
    awk -v accounts="QuorvaneInternal QuOrvAneIndeX DUVidIdeRiv" '
        BEGIN { split(accounts, name, " ") }
        { sub(/^[0-9]+ +[0-9:]+/, "") }
        $2 == "Connect" && /using TCP\/IP/ { tool[$1] = ++n }
        $2 == "Query" && ($1 in tool) {
            c = tool[$1]; q = $0; sub(/^[ \t]*[0-9]+[ \t]+Query[ \t]+/, "", q)
            if (c == 1 && !count[1] && !detected && q ~ /^SELECT @@read_only/) { detected = 1; next }
            count[c]++
            if (index(q, "\047" name[c] "\047") == 0) stray++
        }
        END { printf "%d connections, %d detection, %d %d %d statements, %d naming another account\n",
                     n, detected, count[1], count[2], count[3], stray }' \
        "$dir/general.log" > "$dir/statements"
    expected="3 connections, 1 detection, 2 8 8 statements, 0 naming another account"
    [ "$(cat "$dir/statements")" = "$expected" ] ||
        fail "in the server's general log: $(cat "$dir/statements"); expected $expected"

    # --check and --help print into a redirection and into a pipe, as a command prompt
    # hands them over. Started with no stream at all (start /wait hands none over), a run
    # with arguments takes the prompt's console, a plain run does not: Wine traces each
    # AttachConsole. One cmd runs them all (each Wine start costs seconds).
    exe=$(echo "Z:$program" | tr / '\\')
    (cd "$dir/run" && WINEDEBUG=trace+console sh "$here/wine-run.sh" "$prefix" cmd /c \
        "$exe --check > check.txt & $exe --help | more & start /wait $exe --version & echo plain run: & start /wait $exe") \
        > "$dir/cmd.out" 2>&1 || fail "the runs in cmd failed: $(cat "$dir/cmd.out")"
    grep -q '^6 of 6 account forms as they should be' "$dir/run/check.txt" ||
        fail "--check printed no report into a redirection"
    grep -q '^Usage: VADedeVeZovid ' "$dir/cmd.out" || fail "--help printed no usage into a pipe"
    attached=$(awk '/^plain run:/ { plain = 1 } /AttachConsole/ { n[plain + 0]++ }
                    END { printf "%d with arguments, %d without", n[0], n[1] }' "$dir/cmd.out")
    [ "$attached" = "1 with arguments, 0 without" ] ||
        fail "consoles attached: $attached; expected 1 with arguments, 0 without"

    sql() { mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot -N -B -e "$1"; }
    rights="SELECT, INSERT, UPDATE, DELETE, CREATE, DROP, RELOAD, REFERENCES, INDEX, ALTER"
    while read -r account password; do
        hash=$(sql "SELECT PASSWORD('$password')")
        for host in % localhost; do
            if [ "$account" = QuorvaneInternal ]; then
                expected="GRANT ALL PRIVILEGES ON *.* TO \`$account\`@\`$host\` IDENTIFIED BY PASSWORD '$hash' WITH GRANT OPTION"
            else
                expected="GRANT $rights ON *.* TO \`$account\`@\`$host\` IDENTIFIED BY PASSWORD '$hash'"
            fi
            got=$(sql "SHOW GRANTS FOR '$account'@'$host'" 2>&1 || true)
            [ "$got" = "$expected" ] || fail "grants of $account@$host: '$got', expected '$expected'"
        done
    done <<'ACCOUNTS'
QuorvaneInternal Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6
QuOrvAneIndeX m4hqzwtyop71v652kdnx;r-ploiuwbe3
DUVidIdeRiv 3kvb720w8r65xkc1m7tbqgzwy519vn2d
ACCOUNTS
}

# Waits (60 s at most) until count windows titled "VADedeVeZovid" are shown; prints their ids.
boxes() {
    i=0
    while [ $i -lt 300 ]; do
        ids=$(xdotool search --onlyvisible --name '^VADedeVeZovid$' 2> /dev/null || true)
        [ "$(echo "$ids" | grep -c .)" -ge "$1" ] && { echo "$ids"; return 0; }
        i=$((i + 1))
        sleep 0.2
    done
    return 1
}

# Presses the OK button of the message box window $1 with the keyboard (raised first:
# the two instances' boxes lie one upon the other); a focus that never comes fails within
# 30 s.
dismiss() {
    timeout 30 xdotool windowraise "$1" windowfocus --sync "$1" key Return 2> /dev/null ||
        fail "cannot dismiss window $1"
}

run_no_server_scenario() {
    Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3> "$dir/display" 2> "$dir/xvfb.log" &
    x_pid=$!
    i=0
    until [ -s "$dir/display" ]; do
        i=$((i + 1)); [ $i -lt 100 ] || { cat "$dir/xvfb.log" >&2; exit 1; }; sleep 0.1
    done
    DISPLAY=:$(cat "$dir/display")
    export DISPLAY

    # Each instance in the background, its status in a file (set -e ends a failing one's
    # subshell before it could write it otherwise).
    (status=0; cd "$dir/run" && sh "$here/wine-run.sh" "$prefix" "$program" > "$dir/first.out" 2>&1 ||
        status=$?; echo "$status" > "$dir/first.status") &
    first=$(boxes 1) || { cat "$dir/first.out" >&2; fail "no message box titled VADedeVeZovid"; return; }
    command -v import > /dev/null && import -window root "$results/message-box.png" 2> /dev/null || true
    check_log
    cp "$dir/run/VADedeVeZovid.log" "$dir/first.log"
    grep -q 'ERROR  : .*errno: 200[23]' "$dir/first.log" || fail "the log does not name the failed connection"
    grep -q 'hint: ' "$dir/first.log" || fail "the log gives no hint"

    # A second instance while the first holds the log: its lines go to the console.
    (status=0; cd "$dir/run" && timeout 120 wine "$program" > "$dir/second.out" 2>&1 ||
        status=$?; echo "$status" > "$dir/second.status") &
    second=$(boxes 2 | grep -v -x "$first") || fail "the second instance shows no message box"
    [ -z "$second" ] || dismiss "$second"
    wait_for "$dir/second.status"
    [ "$(cat "$dir/second.status")" = 1 ] || fail "second instance: exit status $(cat "$dir/second.status"), expected 1"
    grep -q 'VADedeVeZovid Application Started' "$dir/second.out" ||
        fail "the second instance's log lines are not on its console: $(cat "$dir/second.out")"
    cmp -s "$dir/first.log" "$dir/run/VADedeVeZovid.log" || fail "the second instance wrote to the first one's log"

    dismiss "$first"
    wait_for "$dir/first.status"
    [ "$(cat "$dir/first.status")" = 1 ] || fail "first instance: exit status $(cat "$dir/first.status"), expected 1"
    # The box's text, also on standard error (the catalogue's KTRGU0079 in English).
    grep -q '^VADedeVeZovid: Error creating database users\. See VADedeVeZovid\.log\.' "$dir/first.out" ||
        fail "the box's text is not on standard error: $(cat "$dir/first.out")"
}

# Waits (60 s at most) for the file $1.
wait_for() {
    i=0
    until [ -s "$1" ]; do
        i=$((i + 1)); [ $i -lt 300 ] || { fail "no ${1##*/} after 60 s"; echo 124 > "$1"; }; sleep 0.2
    done
}

# The stand-in server asks for the login method qvprobe, and qvprobe.dll (a library that
# leaves qvprobe-loaded in the current folder as it is loaded) lies in the tool's current
# folder: it is never loaded, and the run ends with the ERROR and the hint that name the
# method.
run_planted_dll_scenario() {
    cp "$probe" "$dir/run/qvprobe.dll"
    (cd "$dir" && timeout 120 wine "$fake_server" > "$dir/server.out" 2>&1) &
    server_pid=$!
    i=0
    until grep -q listening "$dir/server.out" 2> /dev/null; do
        i=$((i + 1))
        [ $i -lt 300 ] || { cat "$dir/server.out" >&2; fail "the stand-in server does not listen"; return; }
        sleep 0.2
    done
    status=0
    (cd "$dir/run" && timeout 120 wine "$program") > "$dir/out" 2>&1 || status=$?
    kill "$server_pid" 2> /dev/null || true
    wait "$server_pid" || true
    server_pid=""
    [ "$status" -eq 1 ] || { cat "$dir/out" >&2; fail "exit status $status, expected 1"; }
    [ ! -e "$dir/run/qvprobe-loaded" ] || fail "the planted qvprobe.dll was loaded"
    log=$dir/run/VADedeVeZovid.log
    grep -q 'ERROR  : do_connect: errno: 5010 ' "$log" || fail "the log does not name the refused login"
    grep -q "hint: the server asked root to log in with 'qvprobe'" "$log" || fail "no hint names the method"
}

case $scenario in
server) run_server_scenario ;;
no-server) run_no_server_scenario ;;
planted-dll) fake_server=$4 probe=$5 run_planted_dll_scenario ;;
*) echo "usage: $0 server|no-server|planted-dll PROGRAM_DIR WINEPREFIX [FAKE_SERVER PROBE_DLL]" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ] || exit 1
echo "windows end-to-end ($scenario): all checks passed"
