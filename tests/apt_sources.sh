#!/usr/bin/env bash
# The deb-src entries that scripts/windows.sh adds before `apt-get source`,
# written into temporary apt folders (apt's Dir::Etc) of every layout a
# Debian system has: deb822 paragraphs alone (Debian 12 container images,
# new Debian 13 systems), one-line entries alone, both, and none. apt itself
# reads them back (apt-get indextargets, no download): every binary source
# must have its deb-src twin, once.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/windows/sources.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrold-apt.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL ($layout): $*"; failed=1; }

# What apt reads from the folder: "deb SITE SUITE" lines, or "deb-src ...".
targets() {
    apt-get -o Dir::Etc="$1" -o Dir::State="$work/state" -o Dir::Cache="$work/cache" \
        indextargets --no-release-info --format '$(TARGET_OF) $(SITE) $(RELEASE) $(COMPONENT)' \
        2>"$work/apt.err" | grep "^$2 " | sed "s/^$2 //" | sort -u
}

check() { # layout folder
    local etc=$1
    if ! tavrold_source_entries "$etc" 2>"$work/err"; then
        fail "no entries written: $(cat "$work/err")"
        return
    fi
    # Written twice: the second time replaces the first, adding nothing.
    tavrold_source_entries "$etc" 2>>"$work/err" || fail "a second run failed"
    local binary sources
    binary=$(targets "$etc" deb)
    sources=$(targets "$etc" deb-src)
    [ -n "$binary" ] || fail "apt reads no binary source from the layout itself"
    [ "$sources" = "$binary" ] ||
        fail "deb-src entries differ from the deb ones:"$'\n'"deb:"$'\n'"$binary"$'\n'"deb-src:"$'\n'"$sources"
    if grep -qi 'multiple times\|malformed\|error' "$work/apt.err"; then
        fail "apt complains: $(cat "$work/apt.err")"
    fi
    local empty
    empty=$(find "$etc/sources.list.d" -name 'tavrold-deb-src.*' -empty)
    [ -z "$empty" ] || fail "empty file left: $empty"
    echo "ok ($layout): $(echo "$sources" | wc -l) deb-src entries"
}

deb822='Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main contrib

Types: deb
URIs: http://example.invalid/off
Suites: stable
Components: main
Enabled: no'

layout=deb822
etc=$work/deb822
mkdir -p "$etc/sources.list.d"
echo "$deb822" >"$etc/sources.list.d/debian.sources"
check "$etc"
[ ! -e "$etc/sources.list.d/tavrold-deb-src.list" ] || fail "a .list file was written"

layout=one-line
etc=$work/oneline
mkdir -p "$etc/sources.list.d"
cat >"$etc/sources.list" <<'LIST'
# deb http://example.invalid/commented stable main
deb http://deb.debian.org/debian bookworm main
deb [arch=amd64] http://deb.debian.org/debian-security bookworm-security main
deb-src http://deb.debian.org/debian bookworm main
LIST
echo 'deb http://deb.debian.org/debian bookworm-updates main' >"$etc/sources.list.d/updates.list"
echo 'deb http://example.invalid/off stable main' >"$etc/sources.list.d/off.list.disabled"
check "$etc"
[ ! -e "$etc/sources.list.d/tavrold-deb-src.sources" ] || fail "a .sources file was written"

layout=both
etc=$work/both
mkdir -p "$etc/sources.list.d"
echo "$deb822" >"$etc/sources.list.d/debian.sources"
echo 'deb http://deb.debian.org/debian bookworm-backports main' >"$etc/sources.list"
check "$etc"

layout=none
etc=$work/none
mkdir -p "$etc/sources.list.d"
if tavrold_source_entries "$etc" 2>"$work/err"; then
    fail "succeeded without any binary source"
elif ! grep -q 'no binary package source' "$work/err"; then
    fail "no message: $(cat "$work/err")"
else
    echo "ok ($layout): $(cat "$work/err")"
fi
[ -z "$(ls "$etc/sources.list.d")" ] || fail "files left behind: $(ls "$etc/sources.list.d")"

exit $failed
