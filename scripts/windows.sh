#!/usr/bin/env bash
# Builds the Windows program and its installer on Debian, and tests them
# under Wine:
#   1. Qt for 64-bit Windows (MinGW-w64), built from Debian's own Qt source
#      package, installed in a cache folder whose name is a key of the
#      source version, the compiler version and the configure options
#      (/var/cache/tavrold/qt-mingw-<version>-<key>, or $TAVROLD_CACHE/...),
#      and reused from there when it is present;
#   2. OpenSSL and libmosquitto for MinGW-w64 (tavrold-cli.exe publish), from
#      Debian's source packages, in a keyed cache folder of their own
#      (/var/cache/tavrold/mqtt-mingw-<versions>-<key>), reused likewise;
#   3. tavrold.exe and tavrold-cli.exe, cross-built against both in
#      build-windows/, with the DLLs and plugins they need;
#   4. the installer (CPack, NSIS): build-windows/tavrold-<version>-win64.exe;
#   5. the Linux tools the Windows end-to-end test uses (the simulated meter,
#      tavrold-cli to compare with, grab-window), in a build folder of their
#      own (build-windows-linux/), never the developer's build/;
#   6. the Windows end-to-end test (ctest -R e2e_windows) under Wine.
# Prints a line per step with the time since the start.
set -eEuo pipefail
# No step ends the script without saying where and why.
trap 'rc=$?; echo "windows.sh: line $LINENO: \"$BASH_COMMAND\" failed (exit status $rc)" >&2' ERR
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/deps.sh
. scripts/windows/sources.sh

# Root writes the package sources itself; anyone else through sudo.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

started=$(date +%s)
step() { echo "-- Windows [$(($(date +%s) - started)) s]: $*"; }

cache_root=${TAVROLD_CACHE:-/var/cache/tavrold}
windows_build=${TAVROLD_WINDOWS_BUILD:-$top/build-windows}
linux_build=${TAVROLD_WINDOWS_LINUX_BUILD:-$top/build-windows-linux}
jobs=$(nproc 2>/dev/null || echo 2)

# ccache, where installed, makes a second build of the programs quick.
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

step "packages"
tavrold_install_deps windows

# apt-get source needs deb-src entries: the same mirrors and suites as the
# binary packages, in files of their own (scripts/windows/sources.sh).
tavrold_enable_sources() {
    if apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
        return 0
    fi
    local apt_etc
    eval "$(apt-config shell apt_etc Dir::Etc/d)"
    step "adding source package entries (${apt_etc%/}/sources.list.d/tavrold-deb-src.*)"
    SUDO=$sudo tavrold_source_entries "${apt_etc%/}" || exit 1
    $sudo apt-get update -qq
    if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
        echo "windows.sh: apt-get knows no source package qt6-base even with the deb-src entries" \
            "in ${apt_etc%/}/sources.list.d/tavrold-deb-src.*" >&2
        exit 1
    fi
}

# The source version apt-get source would fetch, e.g. 6.4.2+dfsg-10.
source_version() {
    apt-get source --print-uris "$1" 2>/dev/null |
        sed -n "s/^'[^']*' $1_\\([^ ]*\\)\\.dsc .*/\\1/p" | head -n 1
}

# The newest version of a source package whose files the mirror serves: a
# mirror may list a security update whose files it does not carry (its .dsc
# is fetched as the test, a few kilobytes).
fetchable_version() {
    local package=$1 probe version uri
    probe=$(mktemp -d "${TMPDIR:-/tmp}/tavrold-dsc.XXXXXX")
    for version in $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | newest_first); do
        uri=$(apt-get source --print-uris "$package=$version" 2>/dev/null |
            sed -n "s/^'\\([^']*\\.dsc\\)' .*/\\1/p" | head -n 1)
        if [ -n "$uri" ] && /usr/lib/apt/apt-helper download-file "$uri" "$probe/probe.dsc" >/dev/null 2>&1; then
            rm -rf "$probe"
            echo "$version"
            return 0
        fi
    done
    rm -rf "$probe"
    echo "windows.sh: the mirror serves no version of the source package $package" >&2
    return 1
}
newest_first() { # Debian versions, one a line
    local versions i j swap
    mapfile -t versions
    for ((i = 0; i < ${#versions[@]}; i++)); do
        for ((j = i + 1; j < ${#versions[@]}; j++)); do
            if dpkg --compare-versions "${versions[j]}" gt "${versions[i]}"; then
                swap=${versions[i]}
                versions[i]=${versions[j]}
                versions[j]=$swap
            fi
        done
    done
    [ ${#versions[@]} -eq 0 ] || printf '%s\n' "${versions[@]}"
}

# Qt's configure options: Core, Gui, Widgets and the Windows platform plugin
# only, with Qt's own copies of the libraries it needs. Debian's tarball
# lacks the tablet library (wintab), so Direct2D and tablet events are off;
# the patch in scripts/windows/ keeps the DirectWrite font database out of
# the platform plugin then, as it is out of Qt Gui.
qt_options=(
    -release -shared -opensource -confirm-license
    -nomake examples -nomake tests
    -no-opengl -no-feature-vulkan -no-dbus -no-icu
    -no-feature-sql -no-feature-network -no-feature-testlib -no-feature-printsupport
    -no-feature-concurrent -no-feature-xml
    -qt-zlib -qt-libpng -qt-pcre -qt-harfbuzz -qt-freetype -qt-doubleconversion
    -no-libjpeg -no-gif
    -no-feature-direct2d -no-feature-tabletevent
)
qt_patches=("$top"/scripts/windows/qtbase-*.patch)
toolchain=$top/cmake/mingw-w64-x86_64.cmake
# Where the Linux Qt keeps its CMake files: Qt's host tools (moc, rcc, uic)
# come from there.
host_cmake=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake

# Qt Charts (the window "Verlauf"): a tarball of its source named by
# TAVROLD_QTCHARTS_SOURCE, checked against this checksum, or else Debian's
# source package qt6-charts.
qtcharts_tarball_sha256=e3686c776025ca22f2a3a31d6940a06089502854a50c6d46648aa7cb05e0fa07
qtcharts_source=${TAVROLD_QTCHARTS_SOURCE:-}

tavrold_enable_sources
qtbase_version=$(source_version qt6-base)
compiler_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
if [ -n "$qtcharts_source" ]; then
    [ -f "$qtcharts_source" ] || {
        echo "windows.sh: TAVROLD_QTCHARTS_SOURCE names $qtcharts_source, which is no file" >&2
        exit 1
    }
    sum=$(sha256sum "$qtcharts_source" | cut -d' ' -f1)
    [ "$sum" = "$qtcharts_tarball_sha256" ] || {
        echo "windows.sh: $qtcharts_source has the SHA-256 $sum, not $qtcharts_tarball_sha256" \
            "(Qt Charts 6.4.2)" >&2
        exit 1
    }
    qtcharts_id="tarball $sum"
else
    qtcharts_version=$(source_version qt6-charts)
    qtcharts_id="package qt6-charts $qtcharts_version"
fi
key=$(
    {
        echo "qtbase $qtbase_version"
        echo "qtcharts $qtcharts_id"
        echo "compiler $compiler_version"
        echo "options ${qt_options[*]}"
        cat "${qt_patches[@]}" "$toolchain"
    } | sha256sum | cut -c1-12
)
qt=$cache_root/qt-mingw-${qtbase_version%%+*}-$key
work=${TMPDIR:-/var/tmp}/tavrold-qt-$key

# Runs a long build step with its output in a log; on failure shows the
# log's errors (or its end) and stops.
logged() { # log command...
    local log=$1
    shift
    "$@" >"$log" 2>&1 && return 0
    grep -B2 -A10 -m5 -E 'error|Error' "$log" >&2 || tail -n 60 "$log" >&2
    echo "windows.sh: $* failed; the whole log: $log" >&2
    exit 1
}

# The cache folder belongs to whoever runs the script (made through sudo
# where its parent is root's).
if ! mkdir -p "$cache_root" 2>/dev/null || [ ! -w "$cache_root" ]; then
    $sudo mkdir -p "$cache_root"
    $sudo chown "$(id -u):$(id -g)" "$cache_root"
fi

if [ -f "$qt/.complete" ]; then
    step "Qt $qtbase_version with Qt Charts for MinGW-w64: reusing $qt"
else
    mkdir -p "$cache_root"
    # qtbase first; a run that stopped after it goes on with Qt Charts.
    if [ ! -f "$qt/.qtbase-complete" ]; then
        rm -rf "$work" "$qt"
        mkdir -p "$work" "$qt"
        step "Qt: fetching the source package qt6-base $qtbase_version"
        (cd "$work" && logged "$work/source.log" apt-get source -qq qt6-base)
        src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -n 1)
        for patch in "${qt_patches[@]}"; do
            patch -d "$src" -p1 -s <"$patch"
        done
        # Qt's CMake files name the toolchain file; the cache keeps its own copy.
        cp "$toolchain" "$qt/mingw-w64-x86_64.cmake"
        step "Qt: configuring ($qt)"
        mkdir -p "$work/build"
        (cd "$work/build" && logged "$work/configure.log" \
            "$src/configure" -prefix "$qt" -qt-host-path /usr "${qt_options[@]}" -- -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$qt/mingw-w64-x86_64.cmake" \
            -DQT_HOST_PATH_CMAKE_DIR="$host_cmake")
        step "Qt: compiling qtbase (the long step: 25 to 45 minutes on two cores)"
        logged "$work/build.log" nice -n 19 cmake --build "$work/build" --parallel "$jobs"
        step "Qt: installing qtbase into $qt"
        logged "$work/install.log" cmake --install "$work/build"
        touch "$qt/.qtbase-complete"
        rm -rf "$work"
    fi
    rm -rf "$work"
    mkdir -p "$work"
    if [ -n "$qtcharts_source" ]; then
        step "Qt Charts: unpacking $qtcharts_source"
        tar -xJf "$qtcharts_source" -C "$work"
    else
        step "Qt Charts: fetching the source package qt6-charts $qtcharts_version"
        (cd "$work" && apt-get source -qq qt6-charts >"$work/source.log" 2>&1) || {
            cat "$work/source.log" >&2
            echo "windows.sh: no source of Qt Charts: set TAVROLD_QTCHARTS_SOURCE to the tarball" \
                "qtcharts-everywhere-src-6.4.2.tar.xz (SHA-256 $qtcharts_tarball_sha256)," \
                "or make Debian's source package qt6-charts $qtcharts_version available" \
                "to apt-get source" >&2
            exit 1
        }
    fi
    charts_src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt*charts*' | head -n 1)
    step "Qt Charts: configuring and compiling (2 to 4 minutes)"
    logged "$work/charts-configure.log" cmake -S "$charts_src" -B "$work/charts" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    logged "$work/charts-build.log" nice -n 19 cmake --build "$work/charts" --parallel "$jobs"
    logged "$work/charts-install.log" cmake --install "$work/charts"
    touch "$qt/.complete"
    rm -rf "$work"
    step "Qt: done ($(du -sh "$qt" | cut -f1))"
fi

# OpenSSL and libmosquitto (tavrold-cli.exe publish sends over MQTT, with TLS
# where the broker wants it): from Debian's source packages, as DLLs in a
# cache folder of their own, keyed like Qt's. OpenSSL's own MinGW-w64 target,
# its libraries only (no programs, tests nor manuals); of mosquitto only the
# C library, built with POSIX threads from MinGW-w64's winpthreads (the patch
# in scripts/windows/).
mingw=x86_64-w64-mingw32
openssl_options=(mingw64 shared no-tests "--cross-compile-prefix=$mingw-")
mosquitto_options=(
    -DWITH_TLS=ON -DWITH_CJSON=OFF -DWITH_LIB_CPP=OFF -DWITH_STATIC_LIBRARIES=OFF
    -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF
)
mosquitto_patches=("$top"/scripts/windows/mosquitto-*.patch)
openssl_version=$(fetchable_version openssl)
mosquitto_version=$(fetchable_version mosquitto)
mqtt_key=$(
    {
        echo "openssl $openssl_version"
        echo "mosquitto $mosquitto_version"
        echo "compiler $compiler_version"
        echo "options ${openssl_options[*]} ${mosquitto_options[*]}"
        cat "${mosquitto_patches[@]}" "$toolchain"
    } | sha256sum | cut -c1-12
)
mqtt=$cache_root/mqtt-mingw-openssl-${openssl_version%%-*}-mosquitto-${mosquitto_version%%-*}-$mqtt_key
mqtt_work=${TMPDIR:-/var/tmp}/tavrold-mqtt-$mqtt_key

if [ -f "$mqtt/.complete" ]; then
    step "OpenSSL $openssl_version and libmosquitto $mosquitto_version for MinGW-w64: reusing $mqtt"
else
    rm -rf "$mqtt_work" "$mqtt"
    mkdir -p "$mqtt_work" "$mqtt"
    step "MQTT: fetching the source packages openssl $openssl_version and mosquitto $mosquitto_version"
    (cd "$mqtt_work" && logged "$mqtt_work/source.log" \
        apt-get source -qq "openssl=$openssl_version" "mosquitto=$mosquitto_version")
    openssl_src=$(find "$mqtt_work" -maxdepth 1 -mindepth 1 -type d -name 'openssl-*' | head -n 1)
    mosquitto_src=$(find "$mqtt_work" -maxdepth 1 -mindepth 1 -type d -name 'mosquitto-*' | head -n 1)
    for patch in "${mosquitto_patches[@]}"; do
        patch -d "$mosquitto_src" -p1 -s <"$patch"
    done
    step "MQTT: configuring and compiling OpenSSL (the longer of the two)"
    openssl_started=$(date +%s)
    (cd "$openssl_src" && logged "$mqtt_work/openssl-configure.log" \
        env CC=gcc-posix ./Configure "${openssl_options[@]}" --prefix="$mqtt" --libdir=lib)
    logged "$mqtt_work/openssl-build.log" nice -n 19 make -C "$openssl_src" -j"$jobs" build_libs
    logged "$mqtt_work/openssl-install.log" make -C "$openssl_src" install_dev
    step "MQTT: OpenSSL took $(($(date +%s) - openssl_started)) s; configuring and compiling libmosquitto"
    mosquitto_started=$(date +%s)
    logged "$mqtt_work/mosquitto-configure.log" cmake -S "$mosquitto_src" -B "$mqtt_work/mosquitto" \
        -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$mqtt" -DCMAKE_FIND_ROOT_PATH="$mqtt" -DOPENSSL_ROOT_DIR="$mqtt" \
        "${mosquitto_options[@]}"
    logged "$mqtt_work/mosquitto-build.log" nice -n 19 cmake --build "$mqtt_work/mosquitto" --parallel "$jobs"
    logged "$mqtt_work/mosquitto-install.log" cmake --install "$mqtt_work/mosquitto"
    touch "$mqtt/.complete"
    rm -rf "$mqtt_work"
    step "MQTT: libmosquitto took $(($(date +%s) - mosquitto_started)) s; done ($(du -sh "$mqtt" | cut -f1))"
fi

step "programs: configuring $windows_build against $qt and $mqtt"
mkdir -p "$windows_build"
# pkg-config, where asked, sees the Windows libraries only, never Linux's.
PKG_CONFIG_LIBDIR=$mqtt/lib/pkgconfig \
    cmake -S "$top" -B "$windows_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
    -DCMAKE_PREFIX_PATH="$mqtt" -DCMAKE_FIND_ROOT_PATH="$mqtt" \
    -DTAVROLD_BUILD_TESTS=OFF -DTAVROLD_TREND_WINDOW=ON -DTAVROLD_PUBLISH=ON "${launcher[@]}" \
    >"$windows_build/configure.log" 2>&1 || {
    tail -n 40 "$windows_build/configure.log" >&2
    exit 1
}
step "programs: compiling tavrold.exe and tavrold-cli.exe"
cmake --build "$windows_build" --parallel "$jobs" >"$windows_build/build.log" 2>&1 || {
    tail -n 40 "$windows_build/build.log" >&2
    exit 1
}
if grep -q 'warning:' "$windows_build/build.log"; then
    echo "windows.sh: the compiler warned:" >&2
    grep -A3 'warning:' "$windows_build/build.log" | head -n 40 >&2
fi

step "installer: gathering the DLLs and plugins, packing with NSIS"
rm -f "$windows_build"/tavrold-*-win64.exe
(cd "$windows_build" && cpack -G NSIS >cpack.log 2>&1) || {
    tail -n 40 "$windows_build/cpack.log" >&2
    exit 1
}
installer=$(ls "$windows_build"/tavrold-*-win64.exe)
step "installer: $installer ($(du -h "$installer" | cut -f1))"

step "Linux tools: the simulated meter, tavrold-cli (the test compares with it) and grab-window"
TAVROLD_TARGETS="tavrold-sim tavrold-cli grab-window" \
    tavrold_build "$linux_build" -DTAVROLD_WINDOWS_BUILD="$windows_build" "${launcher[@]}"

step "Windows end-to-end test under Wine (ctest -R e2e_windows in $linux_build)"
status=0
(cd "$linux_build" && ctest --output-on-failure -R '^e2e_windows$') || status=1
step "done"
exit $status
