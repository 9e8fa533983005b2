#!/usr/bin/env bash
# Compiles the Windows serial layer (src/serial/serialport_win32.cpp) with the
# MinGW-w64 cross compiler, warnings as errors, and checks that it calls no
# system functions but the serial ones it is meant to use. (tst_win32serial,
# `ctest -L win32`, runs it under Wine.) Installs the cross compiler when it
# is missing and the script runs as root (or sudo is at hand).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
nm=${MINGW_NM:-x86_64-w64-mingw32-nm}
package=g++-mingw-w64-x86-64

if ! command -v "$cxx" >/dev/null 2>&1; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
            sudo="sudo"
        else
            echo "check-win32-serial: the cross compiler $cxx is missing." >&2
            echo "Install it (apt-get install $package) as root and run again." >&2
            exit 2
        fi
    fi
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "check-win32-serial: $cxx is missing and there is no apt-get to install $package." >&2
        exit 2
    fi
    echo "check-win32-serial: installing $package"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "$package" >/dev/null
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

source=$top/src/serial/serialport_win32.cpp
object=$out/serialport_win32.o
"$cxx" -std=c++17 -Wall -Wextra -Werror -O2 -I"$top/src/serial" -c "$source" -o "$object"

# The layer may reach the system only through these calls (GetLastError
# tells a port whose device has gone from a silent one; ClearCommError,
# GetTickCount64 and Sleep let a command-line program wait for bytes;
# PurgeComm empties the input before the search's probe) (plus the C
# library's memory helpers that the compiler may emit for a zeroed struct).
allowed='^(__imp_)?(CreateFileA|SetCommState|SetCommTimeouts|SetupComm|ReadFile|WriteFile|CloseHandle|GetLastError|ClearCommError|GetTickCount64|Sleep|PurgeComm|memset|memcpy)$'
if command -v "$nm" >/dev/null 2>&1; then
    unexpected=$("$nm" -u "$object" | awk '{print $NF}' | grep -Ev "$allowed" || true)
    if [ -n "$unexpected" ]; then
        echo "check-win32-serial: unexpected external calls:" >&2
        echo "$unexpected" >&2
        exit 1
    fi
    for call in CreateFileA SetCommState SetCommTimeouts SetupComm ReadFile WriteFile CloseHandle; do
        if ! "$nm" -u "$object" | grep -Eq "(__imp_)?$call\$"; then
            echo "check-win32-serial: $call is never called" >&2
            exit 1
        fi
    done
fi

echo "check-win32-serial: src/serial/serialport_win32.cpp compiles with $cxx"
