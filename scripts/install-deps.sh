#!/bin/sh
# Installs what building, testing and running the tool need, from Debian's packages.
# Does nothing when everything is there already; uses sudo when not run as root.
set -eu

# valgrind runs the memory check of the built tool; clang and its runtime libraries
# (libFuzzer among them) build the fuzzing harnesses.
packages="g++ cmake make pkg-config libmariadb-dev mariadb-server mariadb-client
          libgtest-dev googletest libbenchmark-dev libspdlog-dev file dpkg-dev tzdata valgrind
          clang libclang-rt-dev"
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
echo "install-deps: installing$missing"
# The package's own service must not start on the build machine: tests use a private server.
policy=/usr/sbin/policy-rc.d
created_policy=""
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $as_root tee "$policy" > /dev/null
    $as_root chmod 755 "$policy"
    created_policy=yes
fi
$as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
[ -n "$created_policy" ] && $as_root rm -f "$policy"
exit 0
