#!/usr/bin/env bash
# Builds the Windows program and its installer on Debian, and tests them
# under Wine:
#   1. Qt for 64-bit Windows (MinGW-w64), built from Debian's own Qt source
#      package, installed in a cache folder whose name is a key of the
#      source version, the compiler version and the configure options
#      (/var/cache/tavrold/qt-mingw-<version>-<key>, or $TAVROLD_CACHE/...),
#      and reused from there when it is present;
#   2. tavrold.exe and tavrold-cli.exe, cross-built against it in
#      build-windows/, with the DLLs and plugins they need;
#   3. the installer (CPack, NSIS): build-windows/tavrold-<version>-win64.exe;
#   4. the Linux build (build/), whose simulated meter and tavrold-cli the
#      Windows end-to-end test compares with;
#   5. the Windows end-to-end test (ctest -L windows) under Wine.
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
jobs=$(nproc 2>/dev/null || echo 2)

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

tavrold_enable_sources
qtbase_version=$(source_version qt6-base)
compiler_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
key=$(
    {
        echo "qtbase $qtbase_version"
        echo "compiler $compiler_version"
        echo "options ${qt_options[*]}"
        cat "${qt_patches[@]}" "$toolchain"
    } | sha256sum | cut -c1-12
)
qt=$cache_root/qt-mingw-${qtbase_version%%+*}-$key

if [ -f "$qt/.complete" ]; then
    step "Qt $qtbase_version for MinGW-w64: reusing $qt"
else
    work=${TMPDIR:-/var/tmp}/tavrold-qt-$key
    rm -rf "$work" "$qt"
    mkdir -p "$work" "$qt"
    step "Qt: fetching the source package qt6-base $qtbase_version"
    (cd "$work" && apt-get source -qq qt6-base >/dev/null 2>"$work/source.log") || {
        cat "$work/source.log" >&2
        exit 1
    }
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -n 1)
    for patch in "${qt_patches[@]}"; do
        patch -d "$src" -p1 -s <"$patch"
    done
    # Qt's CMake files name the toolchain file; the cache keeps its own copy.
    cp "$toolchain" "$qt/mingw-w64-x86_64.cmake"
    step "Qt: configuring ($qt)"
    mkdir -p "$work/build"
    (cd "$work/build" &&
        "$src/configure" -prefix "$qt" -qt-host-path /usr "${qt_options[@]}" -- -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$qt/mingw-w64-x86_64.cmake" \
            -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            >"$work/configure.log" 2>&1) || {
        tail -n 60 "$work/configure.log" >&2
        exit 1
    }
    step "Qt: compiling (the long step: 25 to 45 minutes on two cores)"
    nice -n 19 cmake --build "$work/build" --parallel "$jobs" >"$work/build.log" 2>&1 || {
        grep -B2 -A10 -m5 'error' "$work/build.log" >&2 || tail -n 60 "$work/build.log" >&2
        exit 1
    }
    step "Qt: installing into $qt"
    cmake --install "$work/build" >"$work/install.log" 2>&1 || {
        tail -n 40 "$work/install.log" >&2
        exit 1
    }
    touch "$qt/.complete"
    rm -rf "$work"
    step "Qt: done ($(du -sh "$qt" | cut -f1))"
fi

step "programs: configuring $windows_build against $qt"
mkdir -p "$windows_build"
# Debian's mirror serves no source of Qt Charts, so the Qt built here has
# none: the program is then built without the window "Verlauf".
trend=ON
if [ ! -d "$qt/lib/cmake/Qt6Charts" ]; then
    trend=OFF
    step "programs: no Qt Charts in $qt: built without the window \"Verlauf\""
fi
cmake -S "$top" -B "$windows_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DTAVROLD_BUILD_TESTS=OFF -DTAVROLD_TREND_WINDOW=$trend >"$windows_build/configure.log" 2>&1 || {
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

step "Linux build: the simulated meter, tavrold-cli (the test compares with it) and grab-window"
TAVROLD_TARGETS="tavrold-sim tavrold-cli grab-window" \
    tavrold_build build -DTAVROLD_WINDOWS_BUILD="$windows_build"

step "Windows end-to-end test under Wine (ctest -L windows)"
status=0
(cd build && ctest --output-on-failure -L windows) || status=1
step "done"
exit $status
