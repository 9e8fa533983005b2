#!/usr/bin/env bash
# A private 64-bit Wine prefix whose COM1 to COM20 lead only where a test
# says: each name given as COMn=DEVICE to that device (a pseudo-terminal),
# every other name to BLOCKED, a folder, which exists and opens as no port.
# Wine would give names left over to the machine's own /dev/ttyS*, and for a
# name that leads to nothing that exists it offers a stand-in that opens.
#
#   wineprefix.sh PREFIX BLOCKED [COMn=DEVICE]...          set the prefix up
#   wineprefix.sh --check PREFIX BLOCKED [COMn=DEVICE]...  exit 1, saying
#       which name leads elsewhere, unless all twenty lead where they should
#
# Wine makes the links in PREFIX/dosdevices when a session starts, so the set
# up ends the session and removes the links the first one made; check once a
# program runs in the prefix. WINE names Wine (default: wine on the PATH).
set -euo pipefail

check=false
if [ "${1:-}" = --check ]; then
    check=true
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--check] PREFIX BLOCKED [COMn=DEVICE]..." >&2
    exit 2
fi
prefix=$1
blocked=$2
shift 2
declare -A device
for pair in "$@"; do
    device[${pair%%=*}]=${pair#*=}
done
target() { echo "${device[COM$1]:-$blocked}"; }

if $check; then
    for n in $(seq 1 20); do
        actual=$(readlink "$prefix/dosdevices/com$n" || true)
        if [ "$actual" != "$(target "$n")" ]; then
            echo "COM$n leads to \"$actual\", not \"$(target "$n")\""
            exit 1
        fi
    done
    exit 0
fi

wine=${WINE:-wine}
wineserver=$(command -v wineserver || ls /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver 2>/dev/null | head -n 1)
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
mkdir -p "$blocked"

ms() { date +%s%3N; }
started=$(ms)
timeout 240 "$wine" wineboot -i </dev/null || {
    echo "wineprefix.sh: Wine could not set up its prefix $prefix" >&2
    exit 1
}
booted=$(ms)

ports=$prefix/tavrold-ports.reg
{
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 20); do
        printf '"COM%s"="%s"\r\n' "$n" "$(target "$n" | sed 's/\\/\\\\/g; s/"/\\"/g')"
    done
} >"$ports"
(cd "$prefix" && timeout 60 "$wine" reg import tavrold-ports.reg </dev/null) || {
    echo "wineprefix.sh: Wine did not take the COM names" >&2
    exit 1
}
rm -f "$ports"
timeout 30 "$wineserver" -k || true
timeout 30 "$wineserver" -w
rm -f "$prefix"/dosdevices/com*
echo "wineprefix.sh: prefix $((booted - started)) ms, COM names $(($(ms) - booted)) ms"
