#!/usr/bin/env bash
# Tries the README's two Quick start commands as a newcomer would: on a fresh
# Debian 12 root file system (debootstrap --variant=minbase bookworm), in a
# chroot, as root and without a display, from a fresh clone of this
# repository. Prints the wall time of each command and the number of
# installed packages before and after each. Not part of the test run: it
# downloads a few hundred megabytes and takes a quarter of an hour or more.
#
# Usage (as root): scripts/fresh-debian.sh [work folder] [run|test|both]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/tavrold-fresh-debian}
what=${2:-both}
root=$work/root
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

[ "$(id -u)" -eq 0 ] || { echo "fresh-debian: run as root" >&2; exit 2; }
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap >/dev/null

mounted=()
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[$i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT
bind() { # source target [ro]
    mkdir -p "$2"
    mount --rbind "$1" "$2"
    mounted+=("$2")
    [ "${3:-}" = ro ] && mount -o remount,bind,ro "$2"
    return 0
}

if [ ! -x "$root/bin/bash" ]; then
    echo "-- debootstrap --variant=minbase bookworm into $root"
    mkdir -p "$work"
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
bind /proc "$root/proc"
bind /sys "$root/sys"
bind /dev "$root/dev"
bind "$top" "$root/mnt/tavrolinde" ro

in_root() { chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    TERM=dumb LANG=C.UTF-8 bash -c "$1"; }
packages() { in_root "dpkg-query -W -f='\${Status}\n' | grep -c 'install ok installed'"; }

echo "-- packages on the fresh system: $(packages)"
in_root "command -v git >/dev/null || (apt-get update -qq && apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null)"
echo "-- packages with git: $(packages)"
in_root "rm -rf /root/tavrolinde && git clone -q /mnt/tavrolinde /root/tavrolinde"

timed() { # label command
    local start end
    start=$(date +%s)
    if in_root "cd /root/tavrolinde && $2" >"$work/$1.log" 2>&1; then
        end=$(date +%s)
        echo "-- $2: passed in $((end - start)) s; packages now $(packages) (log: $work/$1.log)"
    else
        end=$(date +%s)
        echo "-- $2: FAILED after $((end - start)) s (log: $work/$1.log)"
        tail -n 30 "$work/$1.log"
        return 1
    fi
}

# What a newcomer would take for an error: Qt's warning about a missing
# runtime folder, or a grep of a file that is not there yet.
quiet_log() { # label
    if grep -E 'XDG_RUNTIME_DIR|^grep: ' "$work/$1.log"; then
        echo "-- the $1 log has lines that look like errors (above)"
        return 1
    fi
}

status=0
if [ "$what" = run ] || [ "$what" = both ]; then
    timed run "scripts/run.sh" || status=1
    quiet_log run || status=1
    in_root "cd /root/tavrolinde && build/bin/tavrold-cli --help >/dev/null" ||
        { echo "-- build/bin/tavrold-cli --help failed after run.sh"; status=1; }
    for pkg in g++-mingw-w64-x86-64 wine64 wine clang lintian imagemagick; do
        in_root "dpkg-query -W -f='\${Status}' $pkg 2>/dev/null | grep -q 'install ok installed'" &&
            echo "-- run.sh installed $pkg" && status=1
    done
    ls "$root/root/tavrolinde/out/screenshots/"
fi
if [ "$what" = test ] || [ "$what" = both ]; then
    timed test "scripts/test.sh" || status=1
    quiet_log test || status=1
fi
exit $status
