#!/usr/bin/env bash
# Makes the Debian package and checks it as a distribution would:
#   - lintian, Debian's package checker: any error or warning fails;
#   - the desktop entry (desktop-file-validate) and the AppStream metadata
#     (appstreamcli validate, without the network);
#   - what it holds: three programs, their manual pages (which name only
#     pages that are there), the desktop entry, the icon, the metadata, the
#     copyright and the changelog; its Depends from the programs' libraries;
# and, as root, installs it, finds every file in place, runs the command-line
# tool, starts the window from its desktop entry under a virtual X server,
# checks the service unit (systemd-analyze verify), closes the window, purges
# the package and finds nothing of it left.
#
# It installs and purges in a throw-away root: this machine's root seen
# through an overlay whose changes stay in memory, in a mount namespace of
# its own, gone when the check ends. The machine's packages, dpkg's database
# and /etc stay as they were, and the check runs the same whether or not a
# tavrold package is installed here (in the throw-away root, the package
# checked replaces it). Where no throw-away root can be had (no overlay file
# system or no unshare, as in some containers), or with
# TAVROLD_PACKAGE_CHECK_ON_MACHINE=1, it installs on the machine itself, but
# only when dpkg knows no tavrold package here: otherwise it leaves the
# machine alone, says why and ends with status 77 (skipped).
#
# Without a build folder it first builds the programs as a package is built:
# Release, with Debian's hardening flags, without the tests, in build-package/.
# With --installed-only it leaves out lintian, the validators and the look
# at the package's contents.
#
# Usage: check-package.sh [--installed-only] [build-folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
self=$top/scripts/check-package.sh
. "$top/scripts/deps.sh"

id=de.vrz.tavrold
expected=(
    /usr/bin/tavrold /usr/bin/tavrold-cli /usr/bin/tavrold-sim
    /usr/share/man/man1/tavrold.1.gz /usr/share/man/man1/tavrold-cli.1.gz
    /usr/share/man/man1/tavrold-sim.1.gz
    /usr/share/applications/$id.desktop /usr/share/pixmaps/tavrold.png
    /usr/share/metainfo/$id.metainfo.xml
    /usr/share/doc/tavrold/copyright /usr/share/doc/tavrold/changelog.gz
    /usr/share/tavrold/images/appicon.ico /usr/share/tavrold/images/copy.png
    /lib/systemd/system/tavrold-publish.service /etc/default/tavrold-publish
)

fail() {
    echo "FAIL: $*"
    exit 1
}

# What dpkg knows of a tavrold package here: not-installed, installed,
# config-files (removed, its settings kept), ...
package_state() {
    dpkg-query -W -f='${db:Status-Status}' tavrold 2>/dev/null || echo not-installed
}

# Installs the package, checks it installed and running, purges it and finds
# nothing of it left, wherever it runs: in the throw-away root, or on the
# machine. Run as `check-package.sh --install-here DEB WORK` by the check
# itself.
install_here() {
    local deb=$1 work=$2
    x_pid=""
    app_pid=""
    installed=1
    trap clean_up_here EXIT
    # The package's own conffile, also over one an administrator changed.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
        -o Dpkg::Options::=--force-confnew "$deb" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt-get install"; }
    # A machine may keep manual pages and documentation out (dpkg's path-exclude,
    # as container images do); those are then not looked for.
    excluded() {
        local folder
        for folder in /usr/share/man /usr/share/doc; do
            case $1 in
            $folder/*) grep -rqsE "^path-exclude[= ]+$folder/" /etc/dpkg/dpkg.cfg.d/ && return 0 ;;
            esac
        done
        return 1
    }
    for path in "${expected[@]}"; do
        [ -f "$path" ] || excluded "$path" || fail "$path not installed"
    done
    entry=/usr/share/applications/$id.desktop
    exec_line=$(sed -n 's/^Exec=//p' "$entry")
    dir=$(sed -n 's/^Path=//p' "$entry")
    [ "$exec_line" = /usr/bin/tavrold ] || fail "Exec=$exec_line"
    [ -f "$dir/images/appicon.ico" ] || fail "no images/ in $dir"
    echo "ok: installed, every file in place"

    # The service: a valid unit (its program and options in place), not enabled.
    systemd-analyze verify --man=no /lib/systemd/system/tavrold-publish.service ||
        fail "systemd-analyze verify: tavrold-publish.service"
    [ -e /etc/systemd/system/multi-user.target.wants/tavrold-publish.service ] &&
        fail "the package enabled tavrold-publish.service"
    echo "ok: tavrold-publish.service verifies, exposure $(systemd-analyze security --offline=true \
        /lib/systemd/system/tavrold-publish.service 2>/dev/null | sed -n 's/.*Overall exposure level[^:]*: //p')"

    # Every COM name blocked: the installed program must not touch real ports.
    export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
    tavrold_runtime_dir "$work"
    mkdir -p "$XDG_DATA_HOME/VRZ/tavrold/ports"
    for i in $(seq 1 20); do ln -s "$work/absent" "$XDG_DATA_HOME/VRZ/tavrold/ports/COM$i"; done
    # The command-line tool runs from the package without a display.
    version=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tavrold-cli --version)
    [ "$version" = "tavrold-cli V2.00" ] || fail "tavrold-cli --version gave: $version"
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tavrold-cli probe -q 2>/dev/null || status=$?
    [ $status -eq 1 ] || fail "tavrold-cli probe without a meter returned $status, not 1"
    echo "ok: the package's tavrold-cli runs without a display"

    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
    x_pid=$!
    exec 3>&-
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$work/display")"
    unset QT_QPA_PLATFORM
    (cd "$dir" && exec "$exec_line") >"$work/app.log" 2>&1 &
    app_pid=$!
    window=""
    for _ in $(seq 300); do
        window=$(xdotool search --name '^Tavrolinde - V2\.00 - FW:\? - ' 2>/dev/null | head -n1 || true)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { cat "$work/app.log"; fail "the installed program shows no window"; }
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus --sync "$window"
    xdotool key --delay 300 alt+d b
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && fail "the installed program did not close"
    wait "$app_pid"
    app_pid=""
    [ -s "$work/app.log" ] && { cat "$work/app.log"; fail "the installed program printed messages"; }
    echo "ok: its program starts from the desktop entry's folder, silently, and closes"

    # --- Removed --------------------------------------------------------------------
    # Purged: the service's options (a conffile) go too.
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 tavrold \
        >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
    installed=0
    state=$(package_state)
    [ "$state" = not-installed ] || fail "after apt purge, dpkg still knows the package: $state"
    left=""
    while read -r path; do
        case $path in
        /usr/share/tavrold/* | /usr/share/doc/tavrold/) [ -d "$path" ] && left+=" $path" ;;
        */) ;; # folders the package shares with others
        *) [ -e "$path" ] && left+=" $path" ;;
        esac
    done < <(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}')
    [ -z "$left" ] || fail "apt purge left: $left"
    echo "ok: apt purge leaves nothing of the package"
}

clean_up_here() {
    for pid in $app_pid $x_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    if [ $installed -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=300 \
            tavrold >/dev/null 2>&1 || true
    fi
}

if [ "${1:-}" = --install-here ]; then
    install_here "$2" "$3"
    exit 0
fi

# Runs a command in a throw-away root: this machine's root (and /etc, /opt,
# /usr and /var where they are file systems of their own) seen through
# overlays whose changes stay in memory (a tmpfs), in a mount namespace of
# the command's own, with the machine's /proc, /sys, /dev and /tmp (where the
# check's folder and the virtual X server's socket are). What the command
# installs or removes there goes with the namespace when it ends.
in_throwaway_root() {
    local layers status=0
    layers=$(mktemp -d /tmp/tavrold-root.XXXXXX)
    unshare --mount --propagation private -- bash -c '
        set -e
        layers=$1
        shift
        mount -t tmpfs -o mode=0755 tavrold-root "$layers"
        mkdir "$layers/root"
        for dir in / /etc /opt /usr /var; do
            [ "$dir" = / ] || mountpoint -q "$dir" || continue
            layer=$layers/layer${dir//\//-}
            mkdir -p "$layer/upper" "$layer/work"
            mount -t overlay tavrold-root \
                -o "lowerdir=$dir,upperdir=$layer/upper,workdir=$layer/work" "$layers/root$dir"
        done
        mount --bind /proc "$layers/root/proc"
        mount --rbind /sys "$layers/root/sys"
        mount --rbind /dev "$layers/root/dev"
        mount --bind /tmp "$layers/root/tmp"
        exec chroot "$layers/root" "$@"
    ' throwaway-root "$layers" "$@" || status=$?
    rmdir "$layers" 2>/dev/null || true
    return $status
}

installed_only=0
if [ "${1:-}" = --installed-only ]; then
    installed_only=1
    shift
fi

if [ $# -gt 0 ]; then
    build=$(cd "$1" && pwd)
else
    build=$top/build-package
    mkdir -p "$build"
    flags() { (cd "$top" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
    TAVROLD_TARGETS="tavrold tavrold-cli tavrold-sim" tavrold_build "$build" \
        -DCMAKE_BUILD_TYPE=Release -DTAVROLD_BUILD_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
fi

rm -f "$build"/tavrold_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/tavrold_*.deb)
echo "Package: $deb ($(stat -c %s "$deb") bytes)"

work=$(mktemp -d)
chmod 0755 "$work" # lintian runs as nobody below
trap 'rm -rf "$work"' EXIT
# The package and the scripts that install it, where the throw-away root
# sees them too.
cp "$deb" "$work/"
deb=$work/$(basename "$deb")
mkdir "$work/scripts"
cp "$self" "$top/scripts/deps.sh" "$work/scripts/"

if [ $installed_only -eq 0 ]; then
    # --- Debian's package checker -------------------------------------------------
    as_user=()
    [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null && as_user=(runuser -u nobody --)
    echo "lintian:"
    if ! (cd "$work" && HOME=$work "${as_user[@]}" lintian --display-info \
        --tag-display-limit 0 --fail-on error,warning "$(basename "$deb")") |
        sed 's/^/    /'; then
        fail "lintian reports errors or warnings"
    fi
    echo "ok: lintian reports no error and no warning"

    # --- What the package holds ----------------------------------------------------
    root=$work/root
    dpkg-deb -x "$deb" "$root"
    for path in "${expected[@]}"; do
        [ -f "$root$path" ] || fail "$path missing in the package"
    done
    dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt dependency"
    dpkg-deb -f "$deb" Depends | grep -q libmosquitto1 || fail "no libmosquitto dependency"
    dpkg-deb -I "$deb" conffiles | grep -qx /etc/default/tavrold-publish ||
        fail "/etc/default/tavrold-publish is not a conffile"
    grep -q '^#.*--password-file' "$root/etc/default/tavrold-publish" ||
        fail "the service's defaults do not show the options"

    # A manual page names in SEE ALSO only pages the package has.
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        for name in $(zcat "$page" | sed -n '/^\.SH SEE ALSO/,/^\.SH/p' |
            sed -n 's/^\.BR \([^ ]*\) (1).*/\1/p' | sed 's/\\-/-/g'); do
            [ -f "$root/usr/share/man/man1/$name.1.gz" ] ||
                fail "$(basename "$page") names $name(1), which the package lacks"
        done
    done
    echo "ok: the package holds the three programs, their manual pages, entry, icon, metadata, copyright"

    desktop-file-validate "$root/usr/share/applications/$id.desktop" ||
        fail "desktop-file-validate: the desktop entry"
    appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$id.metainfo.xml" ||
        fail "appstreamcli: the metadata"
    appstreamcli validate-tree --no-net "$root" >/dev/null ||
        fail "appstreamcli: the metadata and its desktop entry together"
    echo "ok: desktop entry and AppStream metadata valid"
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: the package was not installed."
    exit 0
fi

# --- Installed ------------------------------------------------------------------
why=""
if [ -n "${TAVROLD_PACKAGE_CHECK_ON_MACHINE:-}" ]; then
    why="TAVROLD_PACKAGE_CHECK_ON_MACHINE is set"
elif ! command -v unshare >/dev/null; then
    why="unshare is missing"
elif ! in_throwaway_root true 2>"$work/root.err"; then
    why="no overlay of the root here: $(tail -n 1 "$work/root.err")"
fi
if [ -z "$why" ]; then
    echo "Installed in a throw-away root (this machine's root under an overlay, dropped at the end):"
    in_throwaway_root bash "$work/scripts/check-package.sh" --install-here "$deb" "$work"
    exit 0
fi

# On the machine itself: only where no tavrold package is known to dpkg, or
# its purge would take the administrator's package and settings with it.
# Two such checks take turns.
refuse_if_installed() {
    local state
    state=$(package_state)
    [ "$state" = not-installed ] && return 0
    echo "SKIPPED: the package was not installed: no throw-away root ($why), and this machine" \
        "has a tavrold package ($state), which installing and purging the one checked would" \
        "replace and remove with its settings."
    exit 77
}
refuse_if_installed
exec 9>/tmp/tavrold-check-package.lock
flock -w 900 9 || fail "another package check holds the lock"
refuse_if_installed
echo "Installed on this machine ($why):"
bash "$work/scripts/check-package.sh" --install-here "$deb" "$work"
