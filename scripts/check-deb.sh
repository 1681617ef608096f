#!/bin/sh
# Checks the Debian package the way an administrator meets it: builds the .deb, makes a
# clean Debian system with debootstrap in a temporary folder, installs the package there
# with apt (which brings in the MariaDB client library), runs the installed tool once
# without a server (it must fail with status 1 and say so) and once against a MariaDB
# server installed in that system (it must succeed), and removes the folder.
# Needs root and Debian's package mirror: the one this machine's apt uses (see
# scripts/apt-mirror.sh), or the one QV_DEBIAN_MIRROR names. Not part of the tests.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "check-deb: run as root (debootstrap and chroot)" >&2; exit 1; }
scripts/install-deps.sh
command -v debootstrap > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" > /dev/null
(cd "$build" && cpack -G DEB > /dev/null)
deb=$(ls "$build"/vadedevezovid_*_amd64.deb)

# The Debian release the package is built on, unless QV_DEBIAN_SUITE names another.
suite=${QV_DEBIAN_SUITE:-bookworm}
mirror=$(scripts/apt-mirror.sh)
root=$(mktemp -d /tmp/qv-clean-debian.XXXXXX)
chmod 755 "$root" # the system's own users (mysql) must reach its files
cleanup() { umount "$root/proc" 2>/dev/null || true; rm -rf "$root"; }
trap cleanup EXIT
debootstrap --variant=minbase "$suite" "$root" "$mirror" > "$root.log" 2>&1 ||
    { cat "$root.log"; exit 1; }
rm -f "$root.log"
mount --bind /proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
chroot "$root" sh -eu -c '
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/'"$(basename "$deb")"' > /dev/null
    mkdir -p /root/run && cd /root/run
    status=0; VADedeVeZovid 2> err.txt || status=$?
    [ "$status" -eq 1 ] && grep -q "^VADedeVeZovid: Error creating database users" err.txt ||
        { echo "without a server: expected status 1 and the message, got $status" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mariadb-server > /dev/null
    mkdir -p /run/mysqld && chown mysql /run/mysqld
    mariadbd --user=mysql --skip-networking > /tmp/mariadbd.log 2>&1 &
    i=0
    until mariadb-admin ping > /dev/null 2>&1; do
        i=$((i+1)); [ $i -lt 150 ] || { cat /tmp/mariadbd.log >&2; exit 1; }; sleep 0.2
    done
    status=0; VADedeVeZovid 2> /dev/null || status=$?
    mariadb -N -e "SHOW GRANTS FOR QuorvaneInternal@localhost" | sed -E "s/PASSWORD .[^ ]*/PASSWORD <hash>/"
    mariadb-admin shutdown
    [ "$status" -eq 0 ] || { echo "against the server: status $status" >&2; exit 1; }
    tail -n 1 VADedeVeZovid.log
'
echo "check-deb: $(basename "$deb") installs on a clean Debian $suite system and the installed tool runs"
