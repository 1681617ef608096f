#!/bin/sh
# Installs what building, testing and running the tool need, from Debian's packages.
# Does nothing when everything is there already; uses sudo when not run as root.
set -eu

# valgrind runs the memory check of the built tool; clang and its runtime libraries
# (libFuzzer among them) build the fuzzing harnesses. libssl-dev (libcrypto) and
# libsodium-dev compute the servers' password hashes for the check, nlohmann-json3-dev
# writes its JSON form; Python (python3-minimal) runs the tests' second implementation of
# SHA-256-crypt. debootstrap makes the Debian 13 system whose MariaDB 11.8 the tests run
# against; galera-4 with rsync (the nodes' state transfer, which looks for its port with
# ss and its processes with ps) and iproute2 (the cluster's own network namespace) run
# the three-node cluster of the tests.
packages="g++ cmake make pkg-config libmariadb-dev mariadb-server mariadb-client
          libgtest-dev googletest libbenchmark-dev libspdlog-dev file dpkg-dev tzdata valgrind
          clang libclang-rt-dev libssl-dev libsodium-dev nlohmann-json3-dev python3-minimal
          debootstrap galera-4 rsync iproute2 procps"
# "install-deps.sh windows" adds what the Windows build and its tests under Wine need
# (scripts/build-windows.sh): the cross compiler, Wine, and an X server with the tools
# that find and dismiss the message box.
if [ "${1:-}" = windows ]; then
    packages="$packages g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool x11-utils
              iproute2 unzip"
fi

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

as_root=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "install-deps: run as root or install sudo; missing:$missing" >&2; exit 1; }
    as_root="sudo"
fi
# Another package manager at work (unattended upgrades on a freshly booted machine, an
# apt run in another terminal) holds dpkg's and apt's locks: wait for it, at most
# QV_APT_WAIT seconds (default 600), saying once what is waited for, rather than fail.
apt_locks="/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock
           /var/cache/apt/archives/lock"
wait_limit=${QV_APT_WAIT:-600}
case $wait_limit in '' | *[!0-9]*) echo "install-deps: QV_APT_WAIT must be a number of seconds" >&2; exit 2 ;; esac

# Prints "<lock> (held by <program> <pid>)" for the first lock someone holds, as
# /proc/locks lists it (major:minor:inode, the numbers in hexadecimal).
held_lock() {
    for lock in $apt_locks; do
        [ -e "$lock" ] || continue
        id=$(stat -L -c '%Hd %Ld %i' "$lock" | { read -r major minor inode; printf '%02x:%02x:%s' "$major" "$minor" "$inode"; })
        pid=$(awk -v id="$id" '$0 ~ " " id " " { for (i = 1; i < NF; i++) if ($(i + 1) == id) print $i; exit }' /proc/locks)
        [ -n "$pid" ] || continue
        holder=$(cat "/proc/$pid/comm" 2>/dev/null || echo "another process")
        echo "$lock (held by $holder $pid)"
        return 0
    done
    return 1
}

waited=0
while held=$(held_lock); do
    [ "$waited" -eq 0 ] && echo "install-deps: waiting for $held, at most $wait_limit s"
    if [ "$waited" -ge "$wait_limit" ]; then
        echo "install-deps: $held after $wait_limit s; run again when it is done" >&2
        exit 1
    fi
    sleep 2
    waited=$((waited + 2))
done
[ "$waited" -gt 0 ] && echo "install-deps: the package manager is free after $waited s"

echo "install-deps: installing$missing"
# The package's own service must not start on the build machine: tests use a private server.
policy=/usr/sbin/policy-rc.d
created_policy=""
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $as_root tee "$policy" > /dev/null
    $as_root chmod 755 "$policy"
    created_policy=yes
fi
# apt waits as well, should another one take the lock in between.
apt_wait="-o DPkg::Lock::Timeout=$wait_limit"
$as_root env DEBIAN_FRONTEND=noninteractive apt-get $apt_wait update -qq
$as_root env DEBIAN_FRONTEND=noninteractive apt-get $apt_wait install -y -qq --no-install-recommends $missing
[ -n "$created_policy" ] && $as_root rm -f "$policy"
exit 0
