#!/usr/bin/env bash
# Measures tavrold-cli against the simulated meter, in a sandboxed ports
# folder (every COM name but the simulator's is blocked):
#   1. a download paced as a 9600-baud 8N2 line: the tool's time against the
#      line time of the bytes it took in (bytes * 11 / 9600 s);
#   2. a full-speed download of 16000 data sets: kB/s, against the window's
#      way of taking bytes in (at most 999 bytes every 100 ms poll);
#   3. the live log at the line rate: the tool's processor time against the
#      wall time.
# It reports times and their goals; it fails only when a run fails or loses
# work (a download that does not bring every data set into its file), never
# on a time, so a busy machine cannot break it.
#
# Usage: measure-cli.sh [build-folder] [--records N] [--live-seconds S]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
records=400
live_seconds=30
while [ $# -gt 0 ]; do
    case $1 in
    --records) records=$2; shift 2 ;;
    --live-seconds) live_seconds=$2; shift 2 ;;
    *) build=$1; shift ;;
    esac
done
. "$top/scripts/measure-sandbox.sh"
measure_sandbox measure-cli "$build"

start_sim() {
    : >"$work/sim.log" # there before the simulator opens it, for the grep below
    "$sim" --port COM1 --seed 1 "$@" >"$work/sim.log" 2>&1 &
    pids=($!)
    for _ in $(seq 100); do grep -q listening "$work/sim.log" && return 0; sleep 0.1; done
    echo "measure-cli: the simulator did not start" >&2
    cat "$work/sim.log" >&2
    exit 1
}

# Bytes and seconds from the tool's report ("Aufzeichnung gelesen: N Datensaetze, Zwischenzeit I
# Sek., B Bytes in T s"), then its wall, user and system time.
TIMEFORMAT="%R %U %S"
download() {
    { time "$cli" download -o "$work/out.csv" 2>"$work/cli.err"; } 2>"$work/time" || {
        echo "measure-cli: the download failed:" >&2
        cat "$work/cli.err" >&2
        exit 1
    }
    echo "$(sed -n 's/.* \([0-9]*\) Bytes in \([0-9.]*\) s$/\1 \2/p' "$work/cli.err") $(cat "$work/time")"
}

# Every data set the meter holds is in the file: its header and one line each.
all_data_sets() { # count
    local lines
    lines=$(wc -l <"$work/out.csv")
    [ "$lines" -eq $(($1 + 1)) ] && grep -q "Aufzeichnung gelesen: $1 Datensaetze" "$work/cli.err" && return 0
    echo "measure-cli: the download brought $((lines - 1)) of $1 data sets:" >&2
    cat "$work/cli.err" >&2
    exit 1
}

echo "== Download paced as 9600 baud 8N2, $records data sets =="
start_sim --records "$records"
read -r bytes seconds real user sys < <(download)
measure_stop
all_data_sets "$records"
awk -v b="$bytes" -v t="$seconds" -v r="$real" -v u="$user" -v s="$sys" 'BEGIN {
    line = b * 11 / 9600
    printf "%d bytes in %.3f s; line time %.3f s; tool / line = %.3f (goal 1.05: %s)\n",
           b, t, line, t / line, (t / line <= 1.05 ? "met" : "missed on this run")
    printf "processor for the whole run (the search included): %.3f s of %.1f s = %.2f %%\n",
           u + s, r, (u + s) / r * 100
}'

echo "== Download at full speed, 16000 data sets =="
start_sim --records 16000 --full-speed
read -r bytes seconds _ < <(download)
measure_stop
all_data_sets 16000
awk -v b="$bytes" -v t="$seconds" 'BEGIN {
    rate = b / t / 1000
    poll = 999 / 0.1 / 1000
    printf "%d bytes in %.3f s: %.0f kB/s (goal 100: %s); a 100 ms poll of 999 bytes: %.1f kB/s, %.1f s; tool / poll = %.1f\n",
           b, t, rate, (rate >= 100 ? "met" : "missed on this run"), poll, b / 999 * 0.1, rate / poll
}'

echo "== Live log at the line rate, $live_seconds s =="
start_sim
{ time "$cli" live -q --duration "$live_seconds" >"$work/live.csv" 2>"$work/cli.err"; } 2>"$work/time"
measure_stop
lines=$(($(wc -l <"$work/live.csv") - 1))
read -r real user sys <"$work/time"
awk -v r="$real" -v u="$user" -v s="$sys" -v n="$lines" 'BEGIN {
    printf "%d lines in %.1f s; processor %.3f s user + %.3f s system = %.2f %% (goal under 1 %%: %s)\n",
           n, r, u, s, (u + s) / r * 100, ((u + s) / r < 0.01 ? "met" : "missed on this run")
}'
