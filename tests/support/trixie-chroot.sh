#!/bin/sh
# Makes a Debian 13 (trixie) system in ROOT with its MariaDB server (11.8) installed, for
# running the server tests against a newer server than this machine's own:
#
#   trixie-chroot.sh ROOT
#
# debootstrap --variant=minbase from the Debian mirror this machine's apt uses
# (scripts/apt-mirror.sh, or QV_DEBIAN_MIRROR), then mariadb-server without recommends.
# A finished system is kept: a second call fetches nothing. The system is made in
# ROOT.partial and renamed only once complete, so an interrupted call leaves no half
# system that a later one would take for done; calls at the same time wait for each
# other. The package's own service never starts (a policy-rc.d that exits 101), and
# /proc is mounted in a mount namespace of this script's own, so that no mount outlives
# it (a mount left under build/ would be deleted through by a later rm -rf). apt's
# caches and lists, and the data directory the package made, are removed afterwards. Needs root (debootstrap, chroot, mount).
set -eu
root=${1:-}
[ -n "$root" ] || { echo "usage: $0 ROOT" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
done_mark=$root/.qv-complete
[ -f "$done_mark" ] && exit 0
[ "$(id -u)" -eq 0 ] || { echo "trixie-chroot: needs root (debootstrap, chroot and mount)" >&2; exit 1; }
for program in debootstrap chroot unshare flock; do
    command -v "$program" > /dev/null 2>&1 ||
        { echo "trixie-chroot: $program is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

if [ -z "${QV_IN_MOUNT_NAMESPACE:-}" ]; then
    mkdir -p "$(dirname "$root")"
    exec unshare -m --propagation private env QV_IN_MOUNT_NAMESPACE=1 sh "$0" "$@"
fi

# One maker at a time; whoever waited finds the system done.
exec 9> "$root.lock"
flock 9
[ -f "$done_mark" ] && exit 0
if [ -e "$root" ] && ! rmdir "$root" 2> /dev/null; then
    echo "trixie-chroot: $root holds something else; remove it or name another folder" >&2
    exit 1
fi

mirror=$(sh "$here/../../scripts/apt-mirror.sh")
partial=$root.partial
log=$root.log
rm -rf "$partial"
mkdir -p "$partial"
chmod 755 "$partial"
started=$(date +%s)
echo "trixie-chroot: making a Debian 13 system with MariaDB in $root (once; later runs reuse it)"
fail() {
    echo "trixie-chroot: $1; the last lines of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
}
debootstrap --variant=minbase trixie "$partial" "$mirror" > "$log" 2>&1 || fail "debootstrap failed"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' > "$partial/etc/hosts"
printf '#!/bin/sh\nexit 101\n' > "$partial/usr/sbin/policy-rc.d"
chmod 755 "$partial/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$partial/etc/resolv.conf" 2> /dev/null || true
mount --bind /proc "$partial/proc"
chroot "$partial" sh -eu -c '
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends mariadb-server
    du -sk /var/cache/apt/archives | cut -f1 > /.qv-fetched-kb
    apt-get clean
    rm -rf /var/lib/apt/lists/* /var/lib/mysql/*
' >> "$log" 2>&1 || fail "installing mariadb-server failed"
umount "$partial/proc"
chroot "$partial" mariadbd --version > "$partial/.qv-complete" 2>> "$log" ||
    fail "the installed server does not run"
version=$(awk '{ print "MariaDB", $3 }' "$partial/.qv-complete")
fetched=$(($(cat "$partial/.qv-fetched-kb") / 1024))
mv "$partial" "$root"
echo "trixie-chroot: $version; $(($(date +%s) - started)) s, $fetched MB of packages fetched, $(du -sm "$root" | cut -f1) MB on disk"
