#!/bin/sh
# Builds the tool for 64-bit Windows on this Debian machine and packs it:
#
#     scripts/build-windows.sh            build/windows/VADedeVeZovid-<version>-win64.zip
#     scripts/build-windows.sh --test     the same with warnings as errors, plus the tests,
#                                         run under Wine (what scripts/test.sh runs)
#
# Installs the cross compiler, Wine and Xvfb; fetches Debian's mariadb source package
# through a private apt configuration made from this machine's own sources (the system's
# apt configuration and lists stay untouched), and cross-builds MariaDB Connector/C from
# its libmariadb/ folder; builds GoogleTest for Windows from /usr/src/googletest. Both are
# kept under build/windows-deps/, keyed by version, so that a second build fetches and
# rebuilds nothing. Delete that folder to start afresh.
set -eu
test_too=""
case ${1:-} in
--test) test_too=yes ;;
"") ;;
*) echo "usage: scripts/build-windows.sh [--test]" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh windows

jobs=$(nproc 2>/dev/null || echo 2)
deps=$root/build/windows-deps
build=$root/build/windows
toolchain=$root/cmake/mingw-w64-x86_64.cmake
mkdir -p "$deps" "$build"

# quiet LOG COMMAND...: runs the command with its output in LOG, shown only on failure.
quiet() {
    log=$1; shift
    "$@" > "$log" 2>&1 || { cat "$log" >&2; echo "build-windows: failed: $*" >&2; exit 1; }
}

# A private apt configuration: the machine's deb822 sources (and sources.list) turned into
# source-package sources, with lists and cache of its own.
private_apt() {
    apt=$deps/apt
    rm -rf "$apt"
    mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -r "$file" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$file" > "$apt/sources/$(basename "$file")"
    done
    if [ -r /etc/apt/sources.list ]; then
        sed -n -E 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list \
            > "$apt/sources/sources.list"
    fi
    set -- -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt/sources" \
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache"
    apt_options="$*"
    # A source that fails to answer is reported; what the others list still serves.
    timeout 300 apt-get $apt_options update > "$apt/update.log" 2>&1 || true
}

# Fetches the mariadb source package into $1, newest version first: a version the index
# lists may be gone from the archive (measured: the security suite's newest answered 404).
fetch_mariadb_source() {
    dir=$1
    versions=$(apt-cache $apt_options showsrc mariadb 2>/dev/null |
        sed -n 's/^Version: //p' | sort -V -r -u)
    [ -n "$versions" ] || { cat "$apt/update.log" >&2
        echo "build-windows: no apt source lists the mariadb source package" >&2; exit 1; }
    for version in $versions; do
        rm -rf "$dir" && mkdir -p "$dir"
        if (cd "$dir" && timeout 900 apt-get $apt_options source --download-only \
                "mariadb=$version" > "$dir/fetch.log" 2>&1); then
            echo "$version"
            return 0
        fi
        echo "build-windows: mariadb $version could not be fetched; trying an older one" >&2
    done
    echo "build-windows: no version of the mariadb source package could be fetched" >&2
    exit 1
}

# Connector/C for Windows in $deps/connector-c-<source version>; sets mariadb_root.
connector_c() {
    mariadb_root=$(ls -d "$deps"/connector-c-*/install 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -n "$mariadb_root" ] && [ -f "$mariadb_root/debian-source-version" ]; then
        return 0
    fi
    echo "build-windows: fetching Debian's mariadb source package"
    private_apt
    source=$deps/mariadb-source
    version=$(fetch_mariadb_source "$source")
    tarball=$(ls "$source"/mariadb_*.orig.tar.* | grep -v '\.asc$' | head -n 1)
    tar -xf "$tarball" -C "$source" --wildcards '*/libmariadb/*'
    cc_source=$(ls -d "$source"/*/libmariadb)
    key=$(echo "$version" | tr ':' '_')
    out=$deps/connector-c-$key
    rm -rf "$out"
    echo "build-windows: building Connector/C from mariadb $version (a few minutes)"
    # TLS through Windows' own SCHANNEL. The plugins the tool may need (the logins of
    # MySQL 8, caching_sha2_password and sha256_password; ed25519; the shared-memory
    # transport, which cannot be left out) go inside the DLL, so that none has to be
    # shipped or found at run time; the others (GSSAPI, dialog, clear password) serve no
    # local administrator's login and are left out.
    quiet "$deps/connector-c-configure.log" cmake -S "$cc_source" -B "$out/build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$out/install" -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF \
        -DWITH_SSL=SCHANNEL -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC \
        -DCLIENT_PLUGIN_SHA256_PASSWORD=STATIC -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC \
        -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=OFF -DCLIENT_PLUGIN_DIALOG=OFF \
        -DCLIENT_PLUGIN_MYSQL_CLEAR_PASSWORD=OFF -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC
    quiet "$deps/connector-c-build.log" cmake --build "$out/build" -j "$jobs"
    quiet "$deps/connector-c-install.log" cmake --install "$out/build"
    cp "$cc_source/COPYING.LIB" "$out/install/"
    echo "$version" > "$out/install/debian-source-version"
    rm -rf "$source" "$out/build"
    mariadb_root=$out/install
}

# GoogleTest for Windows from Debian's googletest sources; sets gtest_root.
googletest() {
    version=$(dpkg-query -W -f='${Version}' googletest | tr ':' '_')
    gtest_root=$deps/googletest-$version/install
    [ -f "$gtest_root/lib/libgtest.a" ] && return 0
    echo "build-windows: building GoogleTest $version for Windows"
    out=$deps/googletest-$version
    rm -rf "$out"
    quiet "$deps/googletest.log" sh -c "cmake -S /usr/src/googletest -B '$out/build' \
        -DCMAKE_TOOLCHAIN_FILE='$toolchain' -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
        -DCMAKE_INSTALL_PREFIX='$gtest_root' &&
        cmake --build '$out/build' -j $jobs && cmake --install '$out/build'"
    rm -rf "$out/build"
}

connector_c
echo "build-windows: Connector/C $(cat "$mariadb_root/debian-source-version") in $mariadb_root"

# The message catalogue's and the icon's generators run during the build: ones for this
# machine.
host=$root/build/windows-host
host_werror=OFF
[ -z "$test_too" ] || host_werror=ON
quiet "$host.log" sh -c "cmake -S '$root' -B '$host' -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DQV_WERROR=$host_werror &&
    cmake --build '$host' --target qv_msgc qv_icon -j $jobs"

set -- -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DQV_MARIADB_ROOT="$mariadb_root" -DQV_HOST_MSGC="$host/QVLib/qv_msgc" \
    -DQV_HOST_ICON="$host/WinGUI/icon/qv_icon"
if [ -n "$test_too" ]; then
    googletest
    set -- "$@" -DBUILD_TESTING=ON -DQV_WERROR=ON -DCMAKE_PREFIX_PATH="$gtest_root" \
        -DQV_WINEPREFIX="$deps/wine-prefix"
else
    set -- "$@" -DBUILD_TESTING=OFF
fi
quiet "$build.configure.log" cmake -S "$root" -B "$build" "$@"
cmake --build "$build" -j "$jobs"
(cd "$build" && quiet "$build.cpack.log" cpack -G ZIP)
zip=$(ls "$build"/VADedeVeZovid-*-win64.zip)
echo "build-windows: $zip"
unzip -Z1 "$zip" | sed 's/^/    /'
for file in VADedeVeZovid.exe libmariadb.dll COPYING-libmariadb.txt README.md README-Windows.txt; do
    unzip -Z1 "$zip" | grep -q "/$file\$" || { echo "build-windows: the zip lacks $file" >&2; exit 1; }
done

if [ -n "$test_too" ]; then
    echo "build-windows: running the Windows tests under Wine"
    (cd "$build" && ctest --output-on-failure)
fi
