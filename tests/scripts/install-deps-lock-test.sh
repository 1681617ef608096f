#!/bin/sh
# Test of scripts/install-deps.sh on a machine whose package manager is busy: another
# process holds dpkg's frontend lock (a POSIX lock, as dpkg and apt take it) for a
# while. The script must wait, say once what it waits for, and go on once the lock is
# free; with a shorter bound it must give up with one line, without running apt.
#
# It takes the machine's real lock for some seconds, so it runs as root and by hand,
# never in CI: tests/scripts/install-deps-lock-test.sh <source tree>. dpkg-query and
# apt-get are stand-ins that claim valgrind is missing and record their calls.
set -u
root=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
[ "$(id -u)" -eq 0 ] || { echo "install-deps-lock-test: run as root" >&2; exit 2; }
lock=/var/lib/dpkg/lock-frontend

dir=$(mktemp -d /tmp/qv-deps-lock.XXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/bin"
cat > "$dir/bin/dpkg-query" <<'STUB'
#!/bin/sh
eval "last=\${$#}"
[ "$last" = valgrind ] && exit 1
echo "install ok installed"
STUB
cat > "$dir/bin/apt-get" <<STUB
#!/bin/sh
echo "\$(date +%s) apt-get \$*" >> "$dir/apt-calls"
STUB
chmod 755 "$dir/bin/dpkg-query" "$dir/bin/apt-get"

# hold_lock SECONDS: holds the lock in the background, as dpkg does (fcntl).
hold_lock() {
    perl -e 'use Fcntl; open(my $f, ">>", $ARGV[0]) or die "$!";
             my $range = pack("s s x4 q q i x4", F_WRLCK, 0, 0, 0, 0);
             fcntl($f, F_SETLKW, $range) or die "$!"; sleep $ARGV[1];' "$lock" "$1" &
    holder=$!
    sleep 1
}

# run WAIT HOLD: runs the script with QV_APT_WAIT=WAIT while the lock is held HOLD s.
run() {
    rm -f "$dir/apt-calls"
    hold_lock "$2"
    QV_APT_WAIT=$1 PATH="$dir/bin:$PATH" "$root/scripts/install-deps.sh" > "$dir/out" 2>&1
    status=$?
    wait "$holder"
    released=$(date +%s)
}

run 600 6
first_call=$(head -n 1 "$dir/apt-calls" 2>/dev/null | cut -d' ' -f1)
[ "$status" -eq 0 ] && [ -n "$first_call" ] && [ "$first_call" -ge $((released - 1)) ] ||
    fail "apt-get did not run once the lock was free ($status, ${first_call:-never}, $released)"
[ "$(grep -c '^install-deps: waiting for /var/lib/dpkg/lock-frontend (held by perl' "$dir/out")" -eq 1 ] ||
    fail "no single line says what it waits for: $(cat "$dir/out")"
grep -q 'apt-get -o DPkg::Lock::Timeout=600 install .*valgrind' "$dir/apt-calls" ||
    fail "apt-get was not asked to install valgrind"

run 2 8
[ "$status" -eq 1 ] && [ ! -e "$dir/apt-calls" ] || fail "it did not give up before apt ($status)"
grep -q '^install-deps: /var/lib/dpkg/lock-frontend (held by perl [0-9]*) after 2 s; run again when it is done$' "$dir/out" ||
    fail "no line says why it gave up: $(cat "$dir/out")"

[ "$failures" -eq 0 ] && echo "install-deps-lock-test: all passed"
exit "$failures"
