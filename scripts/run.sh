#!/usr/bin/env bash
# Starts Tavrolinde together with the simulated meter, so that the program
# finds a meter within seconds without any hardware.
#
# With a display: the program opens its window; closing it ends both.
# Without one (no DISPLAY/WAYLAND_DISPLAY, or --demo): both run under a
# virtual X server, the program finds the meter, shows readings, downloads
# the recording through its own menus, screenshots of both pages and of the
# window "Verlauf" are saved in out/screenshots/, and the program is closed
# through "Datei, Beenden".
#
# Arguments after the options go to the simulated meter (see
# `build/bin/tavrold-sim --help`).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/deps.sh

demo=0
if [ "${1:-}" = "--demo" ]; then
    demo=1
    shift
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    demo=1
fi

tavrold_install_deps run
# Every program: the window, the simulated meter, the command-line tool (for
# the README's examples), and the demo's screenshot helper.
TAVROLD_TARGETS="tavrold tavrold-sim tavrold-cli grab-window" tavrold_build build

bin="$top/build/bin"
port=COM1
sim_pid=""
x_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$x_pid" ] && kill "$x_pid" 2>/dev/null && wait "$x_pid" 2>/dev/null
    [ -n "$tavrold_runtime_made" ] && rm -rf "$tavrold_runtime_made"
    return 0
}
trap cleanup EXIT INT TERM
tavrold_runtime_dir

start_sim() {
    local log=$1
    shift
    : >"$log" # emptied first: no "listening" left from an earlier run
    "$bin/tavrold-sim" --port "$port" "$@" >"$log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
        grep -q "listening" "$log" && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "The simulated meter did not start:" >&2
    cat "$log" >&2
    exit 1
}

if [ $demo -eq 0 ]; then
    mkdir -p out
    start_sim out/tavrold-sim.log "$@"
    echo "Simulated meter on $port (log: out/tavrold-sim.log)."
    (cd "$bin" && ./tavrold)
    exit 0
fi

# --- Demo under a virtual X server -----------------------------------------
out="$top/out/screenshots"
mkdir -p "$out"
log="$top/out/tavrold-sim.log"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
x_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

start_sim "$log" --records 240 --interval 30 --recording on --seed 1 "$@"
(cd "$bin" && exec ./tavrold) &
app_pid=$!

# The first window whose title matches, within ten seconds (empty if none).
find_window() {
    local found=""
    for _ in $(seq 100); do
        found=$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)
        [ -n "$found" ] && break
        sleep 0.1
    done
    echo "$found"
}

window=$(find_window "^Tavrolinde - .*FW:[0-9]")
if [ -z "$window" ]; then
    echo "The program did not find the simulated meter." >&2
    kill "$app_pid" 2>/dev/null || true
    exit 1
fi
echo "Meter found: $(xdotool getwindowname "$window")"
focus() {
    xdotool windowactivate --sync "$window" >/dev/null 2>&1 ||
        xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
}
sleep 3 # readings and a status message arrive
"$bin/grab-window" "$window" "$out/display.png"

# "&Aufzeichnung", then "&Lesen": the download runs and the "Daten" page shows.
focus
xdotool key --delay 300 alt+a l
for _ in $(seq 600); do
    grep -q "download sent" "$log" && break
    sleep 0.1
done
sleep 1.5 # the last data sets reach the program
"$bin/grab-window" "$window" "$out/daten.png"

# "&Option", then "&Verlauf": the window with the chart of the readings.
focus
xdotool key --delay 300 alt+o v
trend=$(find_window "^Tavrolinde - Verlauf$")
if [ -n "$trend" ]; then
    sleep 2 # the chart follows a few more readings
    "$bin/grab-window" "$trend" "$out/verlauf.png"
else
    echo "The window \"Verlauf\" did not open." >&2
fi

# "&Datei", then "&Beenden".
focus
xdotool key --delay 300 alt+d b
for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
wait "$app_pid" || true
echo "Screenshots: $out/display.png $out/daten.png $out/verlauf.png"
