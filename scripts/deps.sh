#!/usr/bin/env bash
# Installs what building, running and testing Tavrolinde needs on Debian or
# Ubuntu, but only what is missing. Sourced by the other scripts.

tavrold_packages=(
    cmake g++ make pkg-config dpkg-dev file
    qt6-base-dev qt6-base-dev-tools libgl-dev
    fontconfig fonts-dejavu-core
    xvfb xauth xdotool x11-utils imagemagick
    g++-mingw-w64-x86-64
)

tavrold_install_deps() {
    local missing=()
    local pkg
    for pkg in "${tavrold_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "Missing packages (${missing[*]}) and not root: install them and run again." >&2
            return 1
        fi
    fi
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
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
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$dir" -j"$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}
