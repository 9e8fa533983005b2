# Shared by the end-to-end test scripts (sourced): the test's folder and its
# clean-up, failing with the logs, waiting for a condition, a virtual X
# server.

# The test's folder: removed at the end, after the program, the simulated
# meter and the X server (app_pid, sim_pid, x_pid, where set) are ended and
# the script's own clean_up_more (if it has one) has run.
work=$(mktemp -d)
app_pid=""
sim_pid=""
x_pid=""
clean_up() {
    if declare -F clean_up_more >/dev/null; then clean_up_more || true; fi
    local pid
    for pid in $app_pid $sim_pid $x_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
    return 0
}
trap clean_up EXIT

# Says what failed, shows what the simulated meter and the program said
# ($work/sim.log, $work/app.log), and ends the test.
fail() {
    echo "FAIL: $*"
    echo "--- simulated meter ---"
    cat "$work/sim.log" 2>/dev/null || true
    echo "--- program ---"
    tail -n 60 "$work/app.log" 2>/dev/null || true
    exit 1
}

wait_for() { # seconds, command...
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# A virtual X server on a free display: sets x_pid (for the clean-up) and
# DISPLAY.
start_xvfb() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
    x_pid=$!
    exec 3>&-
    wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
    wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "X display $DISPLAY does not answer"
}
