#!/usr/bin/env bash
# The built programs together, as a user meets them: the real tavrold in a
# real X window (Xvfb) with the real simulated meter, driven through the
# keyboard like a user would.
#
# Usage: e2e_desktop.sh <tavrold> <tavrold-sim>
set -euo pipefail
app=$1
sim=$2
for tool in Xvfb xdotool xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

# shellcheck source=support/e2e.sh
. "$(dirname "$0")/support/e2e.sh"

# Settings and the ports folder in the sandbox; every COM name but the
# simulator's is blocked, so no real serial port is ever opened. Where no
# runtime folder is set, a private one in the sandbox.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
. "$(dirname "$0")/../scripts/deps.sh"
tavrold_runtime_dir "$work"
ports=$XDG_DATA_HOME/VRZ/tavrold/ports
mkdir -p "$ports" "$XDG_CONFIG_HOME"
for i in $(seq 2 20); do ln -s "$work/absent/COM$i" "$ports/COM$i"; done

start_xvfb
unset QT_QPA_PLATFORM

: >"$work/sim.log" # there before the simulator opens it, for the greps below
"$sim" --port COM1 --records 40 --interval 15 --seed 7 --unplug-after 2 --replug-after 2 \
    >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for 10 grep -q "listening" "$work/sim.log" || fail "the simulated meter did not start"

# The program runs in the folder that holds images/.
(cd "$(dirname "$app")" && exec "$app") >"$work/app.log" 2>&1 &
app_pid=$!

title="Tavrolinde - V2.00 - FW:2.xx - COM1"
find_window() { window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1) && [ -n "$window" ]; }
wait_for 15 find_window || fail "no window titled '$title'"
echo "ok: window title '$(xdotool getwindowname "$window")'"

commands() { grep -o '#[a-z];' "$work/sim.log" | tr -d '\n'; }
[ "$(commands)" = "#v;#o;" ] || fail "the meter saw '$(commands)', expected '#v;#o;'"
echo "ok: the meter saw #v; then #o;"

# The cable is pulled two seconds after streaming began: the title loses the
# firmware and the port; plugged in again, the program finds it once more.
lost="Tavrolinde - V2.00 - FW:? - ?"
title_is() { [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$1" ]; }
wait_for 30 title_is "$lost" || fail "the title did not show the meter as lost"
grep -q "unplugged" "$work/sim.log" || fail "the title went to '?' before the meter was unplugged"
echo "ok: unplugged, the title reads '$lost'"
wait_for 60 title_is "$title" || fail "the meter was not found again"
grep -q "plugged in again" "$work/sim.log" || fail "found again before the meter came back"
[ "$(commands)" = "#v;#o;#v;#o;" ] || fail "the meter saw '$(commands)', expected '#v;#o;#v;#o;'"
echo "ok: plugged in again, found again ('$title')"

focus() { xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus --sync "$window"; }

# Download through "&Aufzeichnung", "&Lesen".
sleep 1
focus
xdotool key --delay 200 alt+a l
wait_for 20 grep -q "download sent: 40 data sets" "$work/sim.log" || fail "no download"
sleep 1 # the last bytes reach the program with its next polls
echo "ok: the meter sent its 40 data sets"

# The save action is enabled once the listing is built: "&Aufzeichnung",
# "&Speichern", then the file name in the save dialog. On a busy machine the
# listing may not be there yet: the menu is closed and asked again.
find_dialog() { dialog=$(xdotool search --name "^Speicher der Daten\$" 2>/dev/null | head -n1) && [ -n "$dialog" ]; }
for _ in $(seq 12); do
    focus
    xdotool key --delay 200 alt+a s
    wait_for 5 find_dialog && break
    xdotool key Escape
done
find_dialog || fail "no save dialog: the download did not complete"
sleep 0.5
xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || xdotool windowfocus --sync "$dialog"
xdotool type --delay 20 "$work/recording.csv"
xdotool key Return
wait_for 10 test -s "$work/recording.csv" || fail "no CSV file written"
lines=$(wc -l <"$work/recording.csv")
[ "$lines" -eq 41 ] || fail "the CSV file has $lines lines, expected 41"
head -n1 "$work/recording.csv" | grep -q $'^Datensatz;Zeit;RMS;PEP\r$' || fail "CSV header"
sed -n 2p "$work/recording.csv" | grep -qE $'^    1;00:00:15;-?[0-9]+\\.[0-9]{2};-?[0-9]+\\.[0-9]{2}\r$' ||
    fail "CSV first row: $(sed -n 2p "$work/recording.csv" | od -c | head -n2)"
echo "ok: the download completed and was saved (41 lines)"

# Close through "&Datei", "&Beenden".
focus
xdotool key --delay 200 alt+d b
wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not close"
wait "$app_pid" || fail "the program exited with an error"
app_pid=""
sleep 0.3
last=$(commands | tail -c 3)
[ "$last" = "#c;" ] || fail "last command on the line was '$last', expected '#c;'"
echo "ok: closing sent #c; last ($(commands))"
echo "1 passed, 0 failed"
