#!/bin/sh
# Tests of scripts/apt-mirror.sh against apt sources written here (hosts under the
# reserved .invalid domain), and a check that no file of the project names a package
# mirror's host. Usage: apt-mirror-test.sh <source tree>
set -u
root=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

dir=$(mktemp -d /tmp/qv-apt-mirror.XXXXXX)
trap 'rm -rf "$dir"' EXIT

# expect <expected output, or "refused"> <what>: runs the script on $dir/apt
expect() {
    out=$(QV_APT_DIR="$dir/apt" "$root/scripts/apt-mirror.sh" 2> /dev/null) && status=0 || status=$?
    if [ "$1" = refused ]; then
        [ "$status" -eq 1 ] && [ -z "$out" ] || fail "$2: expected a refusal, got $status '$out'"
    else
        [ "$status" -eq 0 ] && [ "$out" = "$1" ] || fail "$2: expected '$1', got $status '$out'"
    fi
}

mkdir -p "$dir/apt/sources.list.d"
expect refused "no sources at all"

# the classic list: options, a disabled line, the security archive first
cat > "$dir/apt/sources.list" <<'LIST'
# deb http://commented.invalid/debian bookworm main
deb [arch=amd64] http://security.invalid/debian-security bookworm-security main
deb [signed-by=/usr/share/keyrings/vendor.gpg] http://vendor.invalid/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://list.invalid/debian bookworm main
deb http://second.invalid/debian bookworm main
LIST
expect http://list.invalid/debian "sources.list"

# deb822 sources come first; a vendor's, source packages, a disabled stanza and the
# security archive are passed over
cat > "$dir/apt/sources.list.d/a-vendor.sources" <<'SOURCES'
Types: deb
URIs: https://vendor.invalid/linux/debian
Suites: bookworm
Signed-By: /etc/apt/keyrings/vendor.asc
SOURCES
cat > "$dir/apt/sources.list.d/debian.sources" <<'SOURCES'
Types: deb-src
URIs: http://source.invalid/debian
Suites: bookworm

Types: deb
URIs: http://disabled.invalid/debian
Suites: bookworm
Enabled: no

Types: deb
# URIs: http://commented.invalid/debian
URIs: http://security.invalid/debian-security
Suites: bookworm-security
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb deb-src
URIs: http://mirror.invalid/debian http://other.invalid/debian
Suites: bookworm bookworm-updates
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
expect http://mirror.invalid/debian "deb822 sources"

out=$(QV_DEBIAN_MIRROR=http://named.invalid/debian QV_APT_DIR="$dir/apt" \
    "$root/scripts/apt-mirror.sh") || true
[ "$out" = http://named.invalid/debian ] || fail "QV_DEBIAN_MIRROR: got '$out'"

# No file of the project names a mirror's host: no address of a Debian archive and no
# host of Debian's own domain, but for the reserved .invalid names above.
hosts=$(grep -rInE --exclude-dir=.git --exclude-dir=build \
    -e 'https?://[^ /"]+/debian' -e 'debian''\.org' "$root" | grep -v '\.invalid/' || true)
[ -z "$hosts" ] || fail "files name a package mirror: $hosts"

[ "$failures" -eq 0 ] && echo "apt-mirror: all checks passed"
exit "$failures"
