#!/usr/bin/env bash
# Installs what building, running and testing Tavrolinde needs on Debian or
# Ubuntu, but only what is missing. Sourced by the other scripts.

# Building and running the program, and the demo without a display (a
# virtual X server, keyboard input, screenshots).
tavrold_run_packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # Qt Charts for the window "Verlauf"; its CMake files need Qt OpenGL's,
    # which Debian 12's qt6-charts-dev does not bring along.
    qt6-charts-dev libqt6opengl6-dev
    fontconfig fonts-dejavu-core
    xvfb xauth xdotool x11-utils
    # MQTT for `tavrold-cli publish`.
    libmosquitto-dev
)

# Only the tests need these: the Debian package check (the package's checker
# and the validators of its desktop entry and its AppStream metadata), the
# Windows serial layer's cross compiler and Wine to run it (64-bit only),
# clang with its sanitizer and libFuzzer runtimes for the fuzz targets.
tavrold_test_packages=(
    dpkg-dev file lintian appstream desktop-file-utils
    g++-mingw-w64-x86-64
    wine wine64
    clang libclang-rt-dev
    # A real broker and its clients for the publish tests, openssl for their
    # certificates, systemd-analyze for the service unit.
    mosquitto mosquitto-clients openssl systemd
)

# Only the Windows build needs these (scripts/windows.sh): Qt's source
# package and its build tools, the POSIX-thread MinGW-w64 compiler it is
# built with, and the installer maker.
tavrold_windows_packages=(
    dpkg-dev ninja-build perl patch xz-utils
    g++-mingw-w64-x86-64-posix
    nsis
)

# tavrold_install_deps run|test|windows: installs what running (or, with test,
# also testing; with windows, also the Windows build) needs and is missing,
# one line per step.
tavrold_install_deps() {
    local what=${1:-run}
    local wanted=("${tavrold_run_packages[@]}")
    [ "$what" != run ] && wanted+=("${tavrold_test_packages[@]}")
    [ "$what" = windows ] && wanted+=("${tavrold_windows_packages[@]}")
    local missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "-- Packages: all ${#wanted[@]} needed for $what are installed"
        return 0
    fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Missing packages (${missing[*]}) and not root: install them and run again." >&2
            return 1
        fi
    fi
    echo "-- Packages: ${#missing[@]} missing for $what: ${missing[*]}"
    echo "-- Packages: reading the package lists (apt-get update)"
    $sudo apt-get update -qq || return 1
    echo "-- Packages: installing them with what they need (this is the long step on a fresh machine)"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null || return 1
    echo "-- Packages: installed"
}

# Qt keeps per-session files in XDG_RUNTIME_DIR, which a desktop login sets;
# where it is not set (root on a console, ssh, a container, cron), Qt warns
# on every start. tavrold_runtime_dir [folder] gives a private one (mode
# 0700), made in the folder given (and gone with it) or else in a new
# temporary folder, whose path it leaves in tavrold_runtime_made for the
# caller to remove. A runtime folder already set is kept.
tavrold_runtime_made=""
tavrold_runtime_dir() {
    [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ] && return 0
    if [ -n "${1:-}" ]; then
        XDG_RUNTIME_DIR=$1/runtime
        mkdir -p -m 0700 "$XDG_RUNTIME_DIR" || return 1
    else
        XDG_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tavrold-runtime.XXXXXX") || return 1
        tavrold_runtime_made=$XDG_RUNTIME_DIR
    fi
    chmod 0700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
}

# Configures and builds into the given folder with extra CMake arguments;
# TAVROLD_TARGETS (if set) names the targets to build instead of all.
tavrold_build() {
    local dir=$1
    shift
    local top
    top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    local targets=()
    [ -n "${TAVROLD_TARGETS:-}" ] && targets=(--target $TAVROLD_TARGETS)
    echo "-- Build: configuring $dir"
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null || return 1
    echo "-- Build: compiling ${TAVROLD_TARGETS:-everything} in $dir"
    cmake --build "$dir" -j"$(nproc 2>/dev/null || echo 2)" "${targets[@]}" >"$dir/build.log" 2>&1 || {
        tail -n 40 "$dir/build.log" >&2
        return 1
    }
    echo "-- Build: done ($dir)"
}
