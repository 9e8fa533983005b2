# Sourced by the measure-*.sh scripts: the built tool and simulator, and a
# ports folder of their own in a temporary folder, every COM name blocked
# (a link to nowhere) until a script links it to a line.
#
#   measure_sandbox NAME BUILD-FOLDER
#
# sets cli, sim, work (the temporary folder) and ports; the processes whose
# ids a script adds to the array pids end with the script, and the folder
# goes. A program that is not built ends the script with status 2.
measure_sandbox() {
    local name=$1 program i
    build=$(cd "$2" && pwd)
    cli=$build/bin/tavrold-cli
    sim=$build/bin/tavrold-sim
    for program in "$cli" "$sim"; do
        [ -x "$program" ] || { echo "$name: $program is not built" >&2; exit 2; }
    done
    work=$(mktemp -d)
    pids=()
    trap measure_cleanup EXIT
    export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
    ports=$XDG_DATA_HOME/VRZ/tavrold/ports
    mkdir -p "$ports"
    for i in $(seq 1 20); do ln -s "$work/absent" "$ports/COM$i"; done
}

# Ends the processes in pids.
measure_stop() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    pids=()
}

measure_cleanup() {
    measure_stop
    rm -rf "$work"
}
