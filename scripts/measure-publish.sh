#!/usr/bin/env bash
# Measures tavrold-cli publish with --interval 0 between a meter on a
# pseudo-terminal and a mosquitto broker on a loopback port, in a sandboxed
# ports folder (every COM name but the meter's is blocked):
#   1. the latency from the end of a reading on the line to its state at a
#      subscriber (mosquitto_sub's receive time): median and maximum;
#   2. the tool's processor time against the wall time, at the meter's rate
#      (an RMS and a PEP reading every 200 ms, a status every second);
#   3. its resident memory over the run while the broker is killed and
#      started again every --restart-every seconds.
# The meter is a small Python program that stamps each RMS level it writes.
# It reports; it fails only when a run fails, never on a figure.
#
# Usage: measure-publish.sh [build-folder] [--seconds S] [--restart-every S]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
seconds=120
restart_every=60
while [ $# -gt 0 ]; do
    case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --restart-every) restart_every=$2; shift 2 ;;
    *) build=$1; shift ;;
    esac
done
build=$(cd "$build" && pwd)
cli=$build/bin/tavrold-cli
[ -x "$cli" ] || { echo "measure-publish: $cli is not built" >&2; exit 2; }

work=$(mktemp -d)
pids=()
broker_pid=""
cleanup() {
    for pid in "${pids[@]}" $broker_pid; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
ports=$XDG_DATA_HOME/VRZ/tavrold/ports
mkdir -p "$ports"
for i in $(seq 1 20); do ln -s "$work/absent" "$ports/COM$i"; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n' "$port" >"$work/broker.conf"
start_broker() {
    mosquitto -c "$work/broker.conf" >>"$work/broker.log" 2>&1 &
    broker_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "measure-publish: mosquitto does not start" >&2
    exit 1
}
start_broker

# The meter: answers "#v;", and after "#o;" streams; each RMS level is new,
# and its time (after the write) goes to sent.log.
cat >"$work/meter.py" <<'EOF'
import os, sys, time, select, tty
master, slave = os.openpty()
tty.setraw(master)
link = sys.argv[1]
os.remove(link)
os.symlink(os.ttyname(slave), link)
log = open(sys.argv[2], "w", buffering=1)
streaming, n, next_at, status_at = False, 0, 0.0, 0.0
while True:
    wait = max(0.0, next_at - time.time()) if streaming else 1.0
    if select.select([master], [], [], wait)[0]:
        got = os.read(master, 100)
        if b"#v;" in got:
            os.write(master, b"M\x15")
        if b"#o;" in got:
            streaming, next_at = True, time.time()
    if streaming and time.time() >= next_at:
        if time.time() >= status_at:
            os.write(master, b"@s0*7*20*0*0;")
            status_at = time.time() + 1.0
        n += 1
        level = "-%d.%02d" % (20 + n // 100, n % 100)  # new for 30000 readings
        os.write(master, ("@a%s;" % level).encode())
        log.write("%.6f %s\n" % (time.time(), level))
        os.write(master, b"@b-15.1;")
        next_at += 0.2
EOF
python3 "$work/meter.py" "$ports/COM1" "$work/sent.log" &
pids+=($!)
sleep 0.5
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'tavrolinde/bench/state' -F '%U %p' >"$work/received.log" &
pids+=($!)
"$cli" publish --port COM1 --broker "mqtt://127.0.0.1:$port" --id bench --interval 0 \
    2>"$work/cli.log" &
cli_pid=$!
pids+=($cli_pid)
sleep 3
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$cli_pid/stat"; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$cli_pid/status"; }
cpu0=$(cpu)
start=$(date +%s.%N)
rss_first=$(rss)
rss_min=$rss_first
rss_max=$rss_first
next_restart=$restart_every
restarts=0
for s in $(seq 1 "$seconds"); do
    sleep 1
    r=$(rss)
    [ "$r" -lt "$rss_min" ] && rss_min=$r
    [ "$r" -gt "$rss_max" ] && rss_max=$r
    if [ "$s" -ge "$next_restart" ] && [ "$s" -lt "$seconds" ]; then
        kill -9 "$broker_pid"
        wait "$broker_pid" 2>/dev/null || true
        start_broker
        restarts=$((restarts + 1))
        next_restart=$((next_restart + restart_every))
    fi
done
cpu1=$(cpu)
end=$(date +%s.%N)
rss_last=$(rss)
kill -TERM "$cli_pid"
wait "$cli_pid" || { echo "measure-publish: tavrold-cli publish failed"; cat "$work/cli.log"; exit 1; }

echo "tavrold-cli publish --interval 0 for ${seconds} s at the meter's rate, broker restarted $restarts times:"
awk -v t="$ticks" -v c0="$cpu0" -v c1="$cpu1" -v s="$start" -v e="$end" \
    'BEGIN { printf "  processor: %.3f %% of a core\n", 100 * (c1 - c0) / t / (e - s) }'
echo "  resident memory: first ${rss_first} kB, min ${rss_min} kB, max ${rss_max} kB, last ${rss_last} kB"
python3 - "$work/sent.log" "$work/received.log" <<'EOF'
import json, sys
sent = {}
for line in open(sys.argv[1]):
    t, level = line.split()
    sent.setdefault(float(level), float(t))
seen, lat = set(), []
for line in open(sys.argv[2]):
    t, payload = line.split(" ", 1)
    level = json.loads(payload)["rms"]["level"]
    if level in sent and level not in seen:
        seen.add(level)
        lat.append((float(t) - sent[level]) * 1000)
lat.sort()
if lat:
    print("  latency line -> subscriber: %d readings, median %.1f ms, 99 %% %.1f ms, max %.1f ms,"
          " %d over 200 ms" % (len(lat), lat[len(lat) // 2], lat[len(lat) * 99 // 100], lat[-1],
                               sum(1 for x in lat if x > 200)))
EOF
echo "  its messages:"
sed 's/^/    /' "$work/cli.log" | sort | uniq -c | sort -rn | head -n 8
