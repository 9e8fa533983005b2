#!/usr/bin/env bash
# The deb-src entries that `apt-get source` needs: the same mirrors, suites
# and components as the system's binary entries, written in files of their
# own. Sourced by scripts/windows.sh and by its test (tests/apt_sources.sh).
#
# apt keeps its sources in two forms, often side by side: one-line entries
# ("deb URI SUITE COMPONENTS", in sources.list and sources.list.d/*.list) and
# deb822 paragraphs ("Types: deb", in sources.list.d/*.sources), the only
# form on Debian 12 container images and on new Debian 13 systems.

# tavrold_source_entries ETC: writes ETC/sources.list.d/tavrold-deb-src.sources
# (a deb-src paragraph for every enabled paragraph of type deb) and
# ETC/sources.list.d/tavrold-deb-src.list (a deb-src line for every deb
# line), each only when it has entries; an earlier pair is replaced. With
# SUDO set (e.g. "sudo"), the files are put in place through it. Fails, with
# a message and no file left behind, when there is no binary entry at all.
tavrold_source_entries() {
    local etc=${1:-/etc/apt}
    local parts=$etc/sources.list.d
    local own=$parts/tavrold-deb-src
    local new
    new=$(mktemp -d "${TMPDIR:-/tmp}/tavrold-sources.XXXXXX") || return 1

    local file
    for file in "$parts"/*.sources; do
        [ -f "$file" ] && [ "$file" != "$own.sources" ] || continue
        # Paragraph by paragraph: those of type deb (and not already
        # deb-src too), not switched off, again with type deb-src.
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             {
                 types = ""; enabled = 1
                 n = split($0, lines, "\n")
                 for (i = 1; i <= n; i++) {
                     if (lines[i] ~ /^[Tt]ypes:/) types = " " substr(lines[i], 7) " "
                     if (lines[i] ~ /^[Ee]nabled:[ \t]*[Nn]o/) enabled = 0
                 }
                 gsub(/[ \t]+/, " ", types)
                 if (!enabled || types !~ / deb / || types ~ / deb-src /) next
                 out = ""
                 for (i = 1; i <= n; i++)
                     out = out (lines[i] ~ /^[Tt]ypes:/ ? "Types: deb-src" : lines[i]) "\n"
                 printf "%s\n", out
             }' "$file"
    done >"$new/sources"

    # One-line entries: every "deb" line as "deb-src", but for those the
    # system has already.
    local lists=()
    for file in "$etc/sources.list" "$parts"/*.list; do
        [ -f "$file" ] && [ "$file" != "$own.list" ] && lists+=("$file")
    done
    if [ ${#lists[@]} -gt 0 ]; then
        sed -n 's/^[ \t]*deb-src[ \t]/deb-src /p' "${lists[@]}" >"$new/had"
        sed -n 's/^[ \t]*deb[ \t]/deb-src /p' "${lists[@]}" | { grep -vxF -f "$new/had" || true; } >"$new/list"
    fi

    ${SUDO:-} rm -f "$own.sources" "$own.list"
    local written=0 form
    for form in sources list; do
        if [ -s "$new/$form" ]; then
            ${SUDO:-} install -m 0644 "$new/$form" "$own.$form" || {
                rm -rf "$new"
                return 1
            }
            written=1
        fi
    done
    rm -rf "$new"
    if [ $written -eq 0 ]; then
        echo "windows.sh: no binary package source (deb) in $etc/sources.list," \
            "$parts/*.list or $parts/*.sources to take the deb-src entries from" >&2
        return 1
    fi
}
