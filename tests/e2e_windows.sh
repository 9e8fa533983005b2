#!/usr/bin/env bash
# The Windows program as a Windows user gets it, under Wine: its installer
# (made by scripts/windows.sh) installs it silently into a private prefix
# whose COM3 leads to the simulated meter and every other COM name to
# nothing; the program, started from its start-menu entry under a virtual X
# server, finds the meter, opens its window "Verlauf" (Ctrl+T), whose live
# chart draws the readings, and is closed through its menu; the installed
# tavrold-cli.exe downloads the meter's recording, which must be the very
# file the Linux tavrold-cli writes, and publishes its state to a mosquitto
# broker on the loopback; the uninstaller leaves nothing behind.
#
# Usage: e2e_windows.sh <Windows build folder> <tavrold-sim> <tavrold-cli>
#                       <grab-window> <folder for the screenshot>
set -euo pipefail
windows_build=$1
sim=$2
cli=$3
grab=$4
out=$5
here=$(cd "$(dirname "$0")" && pwd)

installer=$(ls "$windows_build"/tavrold-*-win64.exe 2>/dev/null | head -n 1 || true)
if [ -z "$installer" ]; then
    echo "FAIL: no Windows installer (tavrold-*-win64.exe) in $windows_build:"
    echo "      scripts/windows.sh builds it there and then runs this test."
    exit 1
fi
for tool in wine Xvfb xdotool xdpyinfo mosquitto mosquitto_sub; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

# shellcheck source=support/e2e.sh
. "$here/support/e2e.sh"
broker_pid=""
clean_up_more() {
    [ ! -d "$work/prefix" ] || WINEPREFIX=$work/prefix timeout 30 wineserver -k 2>/dev/null
    [ -z "$broker_pid" ] || kill "$broker_pid" 2>/dev/null
}

# The simulated meter on COM3 of a sandboxed ports folder (for the Linux
# tool); every other name there is blocked.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
ports=$XDG_DATA_HOME/VRZ/tavrold/ports
mkdir -p "$ports" "$XDG_CONFIG_HOME"
for i in 1 2 $(seq 4 20); do ln -s "$work/absent/COM$i" "$ports/COM$i"; done
"$sim" --port COM3 --records 300 --interval 30 --seed 21 >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 grep -q "listening" "$work/sim.log" || fail "the simulated meter did not start"
line=$(readlink "$ports/COM3")

# The prefix: COM3 leads to the meter's line, the other nineteen to nothing.
prefix=$work/prefix
env -u DISPLAY bash "$here/win32/wineprefix.sh" "$prefix" "$work/no-port" "COM3=$line" \
    >>"$work/app.log" 2>&1 || fail "the Wine prefix could not be set up"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
programs="$prefix/drive_c/Program Files"
before=$(cd "$programs" && find . | sort)

echo "installing $(basename "$installer") ($(du -h "$installer" | cut -f1))"
timeout 300 wine "$installer" /S >>"$work/app.log" 2>&1 || fail "the installer failed"
timeout 60 wineserver -w
folder="$programs/Tavrolinde"
entry="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrolinde/Tavrolinde.lnk"
for file in tavrold.exe tavrold-cli.exe images/appicon.ico platforms/qwindows.dll Qt6Charts.dll \
    libmosquitto.dll libssl-3-x64.dll libcrypto-3-x64.dll Uninstall.exe; do
    [ -f "$folder/$file" ] || fail "the installer put no $file in $folder"
done
[ -f "$entry" ] || fail "no start-menu entry ($entry)"
# The entry's working folder (the window icon is read from images/ there).
strings -el "$entry" | grep -qx 'C:\\Program Files\\Tavrolinde' ||
    fail "the start-menu entry does not start the program in its folder: $(strings -el "$entry" | tr '\n' '|')"
echo "ok: installed $(find "$folder" -type f | wc -l) files and the start-menu entry"

start_xvfb

# Started as from the start menu: the entry starts it in its own folder.
wine start "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tavrolinde\\Tavrolinde.lnk" \
    >>"$work/app.log" 2>&1 || fail "the start-menu entry did not start"
title="Tavrolinde - V2.00 - FW:2.xx - COM3"
find_window() { window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1) && [ -n "$window" ]; }
wait_for 60 find_window || fail "no window titled '$title' (titles: $(xdotool search --name . getwindowname %@ 2>/dev/null | tr '\n' '|'))"
echo "ok: window title '$(xdotool getwindowname "$window")'"
mapping=$(bash "$here/win32/wineprefix.sh" --check "$prefix" "$work/no-port" "COM3=$line") ||
    fail "Wine's COM names are not the test's: $mapping"

commands() { grep -o '#[a-z];' "$work/sim.log" | tr -d '\n'; }
wait_for 10 grep -q '#o;' "$work/sim.log" || fail "the meter saw '$(commands)', no #o;"
echo "ok: the meter saw $(commands)"
sleep 2 # live readings on the screen
"$grab" "$window" "$out/e2e_windows.png" || fail "no screenshot"
echo "ok: screenshot $out/e2e_windows.png"

# "Option, Verlauf" by its shortcut: the window with the charts, whose live
# chart draws RMS (blue, 1f5fbf) and PEP (red, d04020) as the readings come.
xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
xdotool key ctrl+t
trend_title="Tavrolinde - Verlauf"
find_trend() { trend=$(xdotool search --name "^${trend_title}\$" 2>/dev/null | head -n1) && [ -n "$trend" ]; }
wait_for 20 find_trend || fail "Ctrl+T opened no window '$trend_title' (titles: $(xdotool search --name . getwindowname %@ 2>/dev/null | tr '\n' '|'))"
echo "ok: window title '$(xdotool getwindowname "$trend")'"
# grab-window counts the pixels of each colour and the columns they are in:
# the legend's markers take a few columns, a line of some seconds of
# readings many more.
lines_drawn() {
    "$grab" "$trend" "$out/e2e_windows_verlauf.png" 1f5fbf d04020 >"$work/colours" 2>>"$work/app.log" &&
        awk '$3 < 20 { short = 1 } END { exit short || NR != 2 }' "$work/colours"
}
wait_for 15 lines_drawn ||
    fail "the live chart in $out/e2e_windows_verlauf.png has no lines (colour, pixels, columns: $(tr '\n' ' ' <"$work/colours"))"
echo "ok: screenshot $out/e2e_windows_verlauf.png; colour, pixels, columns of RMS and PEP: $(tr '\n' ' ' <"$work/colours")"

# Closing "Verlauf" (Alt+F4) only hides it; a click on the main window's
# status bar gives it the keyboard again (there is no window manager).
xdotool key alt+F4
hidden() { ! xdotool search --onlyvisible --name "^${trend_title}\$" >/dev/null 2>&1; }
wait_for 10 hidden || fail "Alt+F4 did not close the window '$trend_title'"
echo "ok: Alt+F4 closed the window '$trend_title'"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 20 $((HEIGHT - 6)) click 1

# Closed through "&Datei", "&Beenden".
xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
xdotool key --delay 200 alt+d b
wait_for 20 bash -c "! xdotool search --name '^Tavrolinde' >/dev/null 2>&1" || fail "the program did not close"
timeout 60 wineserver -w
[ "$(commands | tail -c 3)" = "#c;" ] || fail "the meter saw '$(commands)', not #c; last"
echo "ok: closed, the meter saw $(commands)"

# The same recording through the installed Windows tool and the Linux one.
timeout 120 wine "$folder/tavrold-cli.exe" download --port COM3 --start 08:30:00 -q \
    -o "Z:$work/windows.csv" >>"$work/app.log" 2>&1 || fail "tavrold-cli.exe download failed"
timeout 120 "$cli" download --port COM3 --start 08:30:00 -q -o "$work/linux.csv" ||
    fail "the Linux tavrold-cli download failed"
cmp "$work/windows.csv" "$work/linux.csv" || fail "the two tools wrote different files"
echo "ok: tavrold-cli.exe wrote the Linux tool's file ($(wc -l <"$work/linux.csv") lines)"

# The installed tavrold-cli.exe publish sends the meter's state to a broker
# on the Linux side's loopback, where mosquitto_sub receives it.
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/broker.conf"
    mosquitto -c "$work/broker.conf" >"$work/broker.log" 2>&1 &
    broker_pid=$!
    wait_for 5 grep -q "listen socket on port $port" "$work/broker.log" && break
    kill "$broker_pid" 2>/dev/null
    broker_pid=""
done
[ -n "$broker_pid" ] || fail "no mosquitto broker: $(cat "$work/broker.log")"
timeout 90 mosquitto_sub -h 127.0.0.1 -p "$port" -t 'tavrolinde/+/state' -C 1 -v >"$work/state" 2>&1 &
sub_pid=$!
sleep 0.5
wine "$folder/tavrold-cli.exe" publish --port COM3 --broker "mqtt://127.0.0.1:$port" \
    >>"$work/app.log" 2>&1 &
publish_pid=$!
wait "$sub_pid" || fail "no state message came to the broker: $(cat "$work/state") $(cat "$work/broker.log")"
kill "$publish_pid" 2>/dev/null || true
wait "$publish_pid" 2>/dev/null || true
timeout 60 wineserver -w
grep -q '^tavrolinde/[^ /]*/state {' "$work/state" || fail "not a state message: $(cat "$work/state")"
echo "ok: tavrold-cli.exe publish sent $(cut -c1-160 "$work/state")"

timeout 120 wine "$folder/Uninstall.exe" /S >>"$work/app.log" 2>&1 || fail "the uninstaller failed"
timeout 60 wineserver -w
after=$(cd "$programs" && find . | sort)
[ "$after" = "$before" ] ||
    fail "left in Program Files: $(diff <(echo "$before") <(echo "$after") | grep '^>' | tr '\n' ' ')"
[ ! -e "$(dirname "$entry")" ] || fail "the start-menu folder is left"
echo "ok: uninstalled, nothing left"
echo "1 passed, 0 failed"
