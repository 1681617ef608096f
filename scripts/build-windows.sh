#!/bin/sh
# Builds the tool for 64-bit Windows on this Debian machine and packs it:
#
#     scripts/build-windows.sh            build/windows/VADedeVeZovid-<version>-win64.zip,
#                                         and beside it the client library's source,
#                                         VADedeVeZovid-<version>-win64-source-libmariadb.zip
#     scripts/build-windows.sh --test     the same with warnings as errors, plus the tests,
#                                         run under Wine (what scripts/test.sh runs)
#
# Installs the cross compiler, Wine and Xvfb; fetches Debian's mariadb source package
# through a private apt configuration made from this machine's own sources (the system's
# apt configuration and lists stay untouched), and cross-builds MariaDB Connector/C from
# its libmariadb/ folder; builds GoogleTest for Windows from /usr/src/googletest. Both are
# kept under build/windows-deps/, keyed by version, so that a second build rebuilds
# nothing. Delete that folder to start afresh.
#
# Connector/C comes from the newest version of the source package that the apt sources
# list (and serve), or from the one QV_CONNECTOR_VERSION names, as "apt-cache showsrc
# mariadb" lists it (1:10.11.18-0+deb12u1, say). Every run reads the sources' index
# again, so that a security update is built once it is listed, and says in one line which
# version it used and whether a newer one is listed. A kept build is used when the apt
# sources cannot be read.
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
# source-package sources, with lists and cache of its own; the lists are kept, so that a
# run that cannot reach the sources still knows what they listed before. Sets
# apt_options, and index_read to "no" when the index could not be read afresh.
private_apt() {
    apt=$deps/apt
    rm -rf "$apt/sources"
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
    index_read=yes
    timeout 300 apt-get $apt_options update > "$apt/update.log" 2>&1 || index_read=no
}

# The options Connector/C is built with, besides the toolchain and the folders. TLS
# through Windows' own SCHANNEL. The plugins the tool may need (the logins of MySQL 8,
# caching_sha2_password and sha256_password; ed25519; the shared-memory transport, which
# cannot be left out) go inside the DLL, so that none has to be shipped or found at run
# time; the others (GSSAPI, dialog, clear password) serve no local administrator's login
# and are left out. A kept build made with other options is made again.
cc_options="-DCMAKE_BUILD_TYPE=Release -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF
    -DWITH_SSL=SCHANNEL -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC
    -DCLIENT_PLUGIN_SHA256_PASSWORD=STATIC -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC
    -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=OFF -DCLIENT_PLUGIN_DIALOG=OFF
    -DCLIENT_PLUGIN_MYSQL_CLEAR_PASSWORD=OFF -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC"
cc_options=$(echo $cc_options)

# The folder of Connector/C built from mariadb version $1.
cc_dir() {
    echo "$deps/connector-c-$(echo "$1" | tr ':' '_')"
}

# True when Connector/C from mariadb version $1 is kept, whole and built with cc_options.
kept() {
    dir=$(cc_dir "$1")
    [ -f "$dir/install/debian-source-version" ] && [ -f "$dir/source-libmariadb.zip" ] &&
        [ "$(cat "$dir/build-options" 2>/dev/null)" = "$cc_options" ]
}

# Fetches mariadb version $1 and builds Connector/C from its libmariadb/ folder, with its
# source archive; false when the version cannot be fetched (an index may list a version
# its archive no longer serves: measured, the security suite's newest answered 404).
build_connector_c() {
    version=$1
    out=$(cc_dir "$version")
    source=$deps/mariadb-source
    rm -rf "$source" && mkdir -p "$source"
    (cd "$source" && timeout 900 apt-get $apt_options source --download-only \
        "mariadb=$version" > "$source/fetch.log" 2>&1) || { rm -rf "$source"; return 1; }
    tarball=$(ls "$source"/mariadb_*.orig.tar.* | grep -v '\.asc$' | head -n 1)
    tar -xf "$tarball" -C "$source" --wildcards '*/libmariadb/*'
    cc_source=$(ls -d "$source"/*/libmariadb)
    rm -rf "$out"
    echo "build-windows: building Connector/C from mariadb $version (a few minutes)"
    quiet "$deps/connector-c-configure.log" cmake -S "$cc_source" -B "$out/build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$out/install" $cc_options
    quiet "$deps/connector-c-build.log" cmake --build "$out/build" -j "$jobs"
    quiet "$deps/connector-c-install.log" cmake --install "$out/build"
    cp "$cc_source/COPYING.LIB" "$out/install/"
    echo "$version" > "$out/install/debian-source-version"
    # The exact source that was built, and how, for the source archive beside the zip.
    archive=$source/archive/$(basename "$out")
    mkdir -p "$archive"
    mv "$cc_source" "$archive/libmariadb"
    cp "$toolchain" "$archive/"
    printf '%s\r\n' "Connector/C as built for VADedeVeZovid: the libmariadb folder of Debian's" \
        "source package mariadb $version, unchanged, built with MinGW-w64" \
        "($("$cross_cxx" --version | head -n 1)) by:" "" \
        "    cmake -S libmariadb -B build -DCMAKE_TOOLCHAIN_FILE=mingw-w64-x86_64.cmake" \
        "          -DCMAKE_INSTALL_PREFIX=<folder> $cc_options" \
        "    cmake --build build" "    cmake --install build" > "$archive/BUILT-WITH.txt"
    (cd "$source/archive" && cmake -E tar cf "$out/source-libmariadb.zip" --format=zip \
        "$(basename "$out")")
    echo "$cc_options" > "$out/build-options"
    rm -rf "$source" "$out/build"
}

# Connector/C for Windows: the pinned version, else the newest listed that can be
# fetched, else (the index unread) the newest kept; sets mariadb_root and says which
# version it is and whether a newer one is listed.
connector_c() {
    private_apt
    listed=$(apt-cache $apt_options showsrc mariadb 2>/dev/null |
        sed -n 's/^Version: //p' | sort -V -r -u)
    kept_versions=$(ls "$deps" | sed -n 's/^connector-c-//p' | tr '_' ':' | sort -V -r)
    if [ -n "${QV_CONNECTOR_VERSION:-}" ]; then
        candidates=$QV_CONNECTOR_VERSION
        chosen="pinned by QV_CONNECTOR_VERSION"
    elif [ -n "$listed" ]; then
        candidates=$listed
        chosen="the newest listed that could be fetched"
    else
        candidates=$kept_versions
        chosen="the newest kept"
    fi
    used=""
    for version in $candidates; do
        if kept "$version" || { [ -n "$listed" ] && build_connector_c "$version"; }; then
            used=$version
            break
        fi
        echo "build-windows: mariadb $version could not be fetched" >&2
    done
    if [ -z "$used" ]; then
        [ "$index_read" = yes ] || cat "$apt/update.log" >&2
        echo "build-windows: no Connector/C to build from (listed:" ${listed:-none}";" \
            "QV_CONNECTOR_VERSION: ${QV_CONNECTOR_VERSION:-unset})" >&2
        exit 1
    fi
    newest=$(echo "$listed" | head -n 1)
    if [ -z "$newest" ]; then
        newer="whether a newer one is listed is unknown: the apt sources could not be read"
    elif dpkg --compare-versions "$newest" gt "$used"; then
        newer="a newer one is listed: $newest"
    else
        newer="no newer one is listed"
    fi
    [ "$index_read" = yes ] || newer="$newer (the apt sources could not all be read now: $apt/update.log)"
    echo "build-windows: Connector/C from mariadb $used, $chosen; $newer"
    mariadb_dir=$(cc_dir "$used")
    mariadb_root=$mariadb_dir/install
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

cross_cxx=x86_64-w64-mingw32-g++-posix
connector_c

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

# The package of this version alone: made afresh, whatever older zips lie beside it.
package=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
zip=$build/$package.zip
source_zip=$build/$package-source-libmariadb.zip
rm -f "$zip" "$source_zip"
(cd "$build" && quiet "$build.cpack.log" cpack -G ZIP)
cp "$mariadb_dir/source-libmariadb.zip" "$source_zip"
echo "build-windows: $zip"
unzip -Z1 "$zip" | sed 's/^/    /'
echo "build-windows: $source_zip"
for file in VADedeVeZovid.exe libmariadb.dll COPYING-libmariadb.txt COPYING-mingw-w64.txt \
    README.md README-Windows.txt; do
    unzip -Z1 "$zip" | grep -q "^$package/$file\$" ||
        { echo "build-windows: the zip lacks $file" >&2; exit 1; }
done
unzip -Z1 "$source_zip" | grep -q '/libmariadb/CMakeLists.txt$' ||
    { echo "build-windows: the source archive lacks libmariadb/CMakeLists.txt" >&2; exit 1; }
# The binaries in the zip carry no debugging information (it is in build/windows/debug/).
for file in VADedeVeZovid.exe libmariadb.dll; do
    unzip -p "$zip" "$package/$file" > "$build/zip-$file"
    sections=$(x86_64-w64-mingw32-objdump -h "$build/zip-$file" | awk '$2 ~ /^\.debug_/ { print $2 }')
    rm -f "$build/zip-$file"
    [ -z "$sections" ] ||
        { echo "build-windows: $file in the zip keeps" $sections >&2; exit 1; }
done

if [ -n "$test_too" ]; then
    echo "build-windows: running the Windows tests under Wine"
    (cd "$build" && ctest --output-on-failure)
fi
