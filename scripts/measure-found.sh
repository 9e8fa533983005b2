#!/usr/bin/env bash
# Measures the time from start to the meter found ("probe" of tavrold-cli,
# which runs the window's search) with the simulated meter on COM5 and
# COM1 to COM4 present but silent (pseudo-terminals nobody answers on), in a
# sandboxed ports folder: first with no port remembered, then again, when
# the port found the first time is asked first.
#
# Usage: measure-found.sh [build-folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/measure-sandbox.sh"
measure_sandbox measure-found "${1:-$top/build}"

# Four silent lines: pseudo-terminals whose other ends are held open.
python3 - "$ports" >"$work/silent.log" 2>&1 <<'PY' &
import os, pty, sys, time, tty
ends = []
for n in range(1, 5):
    master, slave = pty.openpty()
    tty.setraw(slave)
    ends.append((master, slave))
    link = os.path.join(sys.argv[1], "COM%d" % n)
    os.unlink(link)
    os.symlink(os.ttyname(slave), link)
print("ready", flush=True)
while True:
    for master, _ in ends:  # what the tool sends is taken and never answered
        try:
            os.set_blocking(master, False)
            os.read(master, 4096)
        except BlockingIOError:
            pass
    time.sleep(0.05)
PY
pids+=($!)
"$sim" --port COM5 --seed 1 >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q ready "$work/silent.log" && grep -q listening "$work/sim.log" && break
    sleep 0.1
done

TIMEFORMAT="%R"
for run in "no port remembered" "COM5 remembered"; do
    { time "$cli" probe >"$work/out" 2>"$work/err"; } 2>"$work/time" || {
        echo "measure-found: probe failed:" >&2; cat "$work/err" >&2; exit 1; }
    echo "$run: $(cat "$work/out") found after $(cat "$work/time") s"
done
