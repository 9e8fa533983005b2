#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (build-fuzz/) and runs each
# for a bounded time: until it has tried TAVROLD_FUZZ_BYTES input bytes
# (default 10^7) or for TAVROLD_FUZZ_SECONDS seconds (default 60), whichever
# comes first. Each target starts from its seed corpus and every input ever
# kept for it (tests/fuzz/corpus/<target>, tests/fuzz/regression/<target>),
# copied into a working corpus, so that a run leaves the repository as it
# was. Fails on any finding: a crash, a sanitizer report, a leak, a broken
# rule, an input that takes too long. The input that caused it is kept in
# the findings folder printed at the end; put it into
# tests/fuzz/regression/<target>/ so that every test run replays it.
#
#   scripts/fuzz.sh [target...]      targets: stream protocol (default both)
#   TAVROLD_FUZZ_SECONDS=600 TAVROLD_FUZZ_BYTES=0 scripts/fuzz.sh stream
#                                    (0 bytes: no byte budget, time only)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/deps.sh

seconds=${TAVROLD_FUZZ_SECONDS:-60}
bytes=${TAVROLD_FUZZ_BYTES:-10000000}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(stream protocol)

fuzz_targets=()
for target in "${targets[@]}"; do
    fuzz_targets+=("fuzz_$target")
done
TAVROLD_TARGETS="${fuzz_targets[*]}" tavrold_build build-fuzz \
    -DCMAKE_CXX_COMPILER=clang++ -DTAVROLD_FUZZ=ON

out=$(mktemp -d "${TMPDIR:-/tmp}/tavrold-fuzz.XXXXXX")
status=0
summaries=()
for target in "${targets[@]}"; do
    dir="$out/$target"
    mkdir -p "$dir/corpus" "$dir/findings"
    cp tests/fuzz/corpus/"$target"/* "$dir/corpus/"
    if [ -d tests/fuzz/regression/"$target" ]; then
        cp tests/fuzz/regression/"$target"/* "$dir/corpus/" 2>/dev/null || true
    fi
    echo "-- Fuzz: $target for at most $seconds s or $bytes input bytes"
    rc=0
    # The byte budget is counted by the target, which then makes the stop
    # file that libFuzzer watches. A whole download takes a thousand times
    # longer than a reading: -entropic_scale_per_exec_time lets the quick
    # inputs be tried more often (some ten times the executions per second).
    TAVROLD_FUZZ_BYTES=$bytes TAVROLD_FUZZ_STOP_FILE="$dir/stop" \
        ASAN_OPTIONS=detect_leaks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$top/tests/lsan.supp":print_suppressions=0 \
        QT_QPA_PLATFORM=offscreen \
        build-fuzz/tests/fuzz/fuzz_"$target" \
        -dict=tests/fuzz/protocol.dict \
        -max_total_time="$seconds" -max_len=4096 -timeout=30 \
        -entropic_scale_per_exec_time=1 \
        -stop_file="$dir/stop" -print_final_stats=1 \
        -artifact_prefix="$dir/findings/" \
        "$dir/corpus" >"$dir/log" 2>&1 || rc=$?

    # The last status line: coverage (cov: = program edges reached, ft: =
    # features), corpus size and the executions per second.
    last=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 || true)
    totals=$(grep -E "^fuzz_$target: " "$dir/log" | grep -E 'inputs' | tail -n 1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+) ft: ([0-9]+).*/cov: \1 ft: \2/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+\/[0-9A-Za-z]+).*/corpus: \1/p' <<<"$last")
    if [ -n "$totals" ]; then
        summary="$target: ${totals#fuzz_$target: }; $cov; $corp"
    else
        summary="$target: stopped at a finding${cov:+ ($cov)}"
    fi
    summaries+=("$summary")
    echo "-- Fuzz: $summary"

    findings=$(ls -A "$dir/findings")
    if [ $rc -ne 0 ] || [ -n "$findings" ]; then
        status=1
        echo "-- Fuzz: $target FAILED (exit $rc); the end of its log:" >&2
        grep -E 'rule broken|ERROR|SUMMARY|Test unit written|deadly signal' "$dir/log" | head -n 20 >&2 || true
        for f in $findings; do
            echo "-- Fuzz: finding kept at $dir/findings/$f" >&2
            echo "         replay it:  build-fuzz/tests/fuzz/fuzz_$target $dir/findings/$f" >&2
            echo "         keep it:    cp $dir/findings/$f tests/fuzz/regression/$target/<what-it-does>" >&2
        done
        echo "-- Fuzz: whole log at $dir/log" >&2
    fi
done

echo "-- Fuzz: summary"
for s in "${summaries[@]}"; do
    echo "   $s"
done
if [ $status -eq 0 ]; then
    echo "-- Fuzz: no findings (logs in $out)"
fi
exit $status
