#!/usr/bin/env bash
# Runs the test suite of a build folder many times in a row under
# `ctest -j2`, with busy loops beside it that keep the processors loaded, and
# counts the runs that passed: a test that fails only on a busy machine shows
# up here. Not part of the test run (it takes a while).
#
# Usage: scripts/soak.sh [build folder] [runs] [busy loops]
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd) || exit 2
runs=${2:-20}
loops=${3:-2}

. "$top/scripts/deps.sh"
tavrold_runtime_dir || exit 2

busy=()
stop_busy() {
    [ ${#busy[@]} -gt 0 ] && kill "${busy[@]}" 2>/dev/null
    wait 2>/dev/null
    [ -n "$tavrold_runtime_made" ] && rm -rf "$tavrold_runtime_made"
    return 0
}
trap stop_busy EXIT
for _ in $(seq "$loops"); do
    bash -c 'while :; do :; done' &
    busy+=($!)
done

log=$build/soak
mkdir -p "$log"
passed=0
for run in $(seq "$runs"); do
    start=$(date +%s)
    if (cd "$build" && ctest -j2 -LE 'bench|windows' --output-on-failure >"$log/run-$run.log" 2>&1); then
        passed=$((passed + 1))
        result=passed
    else
        result="FAILED: $(grep -E '^\s+[0-9]+ - ' "$log/run-$run.log" | tr -s ' ' | tr '\n' ';')"
    fi
    echo "run $run of $runs: $result ($(($(date +%s) - start)) s, log $log/run-$run.log)"
done
echo "$passed of $runs runs passed with $loops busy loops beside them"
[ "$passed" -eq "$runs" ]
