#!/usr/bin/env bash
# Makes the Debian package from a build folder, checks what it holds, and
# (as root) installs it, starts the installed program from its desktop
# entry's folder under a virtual X server, closes it, and removes the package.
#
# Usage: check-package.sh [build-folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/tavrold_*.deb | head -n1)
echo "Package: $deb"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tavrold ./usr/bin/tavrold-sim ./usr/share/tavrold/images/appicon.ico \
    ./usr/share/tavrold/images/copy.png ./usr/share/applications/tavrold.desktop \
    ./usr/share/pixmaps/tavrold.png ./usr/bin/tavrold-cli ./usr/share/man/man1/tavrold-cli.1.gz; do
    grep -q " $path\$" <<<"$contents" || { echo "FAIL: $path missing in the package"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "FAIL: no Qt dependency"; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: the package was not installed."
    exit 0
fi

work=$(mktemp -d)
x_pid=""
app_pid=""
cleanup() {
    for pid in $app_pid $x_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tavrold >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
entry=/usr/share/applications/tavrold.desktop
exec_line=$(sed -n 's/^Exec=//p' "$entry")
dir=$(sed -n 's/^Path=//p' "$entry")
[ "$exec_line" = /usr/bin/tavrold ] || { echo "FAIL: Exec=$exec_line"; exit 1; }
[ -f "$dir/images/appicon.ico" ] || { echo "FAIL: no images/ in $dir"; exit 1; }

# Every COM name blocked: the installed program must not touch real ports.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_DATA_HOME/VRZ/tavrold/ports"
for i in $(seq 1 20); do ln -s "$work/absent" "$XDG_DATA_HOME/VRZ/tavrold/ports/COM$i"; done
# The command-line tool runs from the package without a display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tavrold-cli --version)
[ "$version" = "tavrold-cli V2.00" ] || { echo "FAIL: tavrold-cli --version gave: $version"; exit 1; }
status=0
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tavrold-cli probe -q 2>/dev/null || status=$?
[ $status -eq 1 ] || { echo "FAIL: tavrold-cli probe without a meter returned $status, not 1"; exit 1; }
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
for _ in $(seq 100); do
    window=$(xdotool search --name '^Tavrolinde - V2\.00 - FW:\? - ' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: the installed program shows no window"; cat "$work/app.log"; exit 1; }
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus --sync "$window"
xdotool key --delay 300 alt+d b
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
    echo "FAIL: the installed program did not close"
    exit 1
fi
wait "$app_pid"
app_pid=""
echo "ok: the package installs, its program starts from the desktop entry's folder and closes"
