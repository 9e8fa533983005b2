#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once as a normal
# build, once with AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz
# targets for a bounded time, and the compile check of the Windows serial
# layer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/deps.sh
tavrold_install_deps test
# One private runtime folder for every program the tests start.
tavrold_runtime_dir
trap '[ -n "$tavrold_runtime_made" ] && rm -rf "$tavrold_runtime_made"' EXIT

status=0

echo "== Build and test =="
tavrold_build build
(cd build && ctest --output-on-failure -j2 -LE 'bench|windows') || status=1
echo "== The Windows serial layer under Wine =="
(cd build && ctest --output-on-failure -L win32) || status=1

echo "== Benchmarks (one short pass) =="
(cd build && ctest --output-on-failure -L bench) || status=1

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
tavrold_build build-asan -DTAVROLD_SANITIZE=ON
(cd build-asan &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$top/tests/lsan.supp":print_suppressions=0 \
        ctest --output-on-failure -j2 -LE 'bench|windows') || status=1
(cd build-asan &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -L win32) || status=1

echo "== Fuzzing: each target for a bounded time (the kept inputs are replayed by ctest) =="
bash scripts/fuzz.sh || status=1

if [ -x scripts/check-win32-serial.sh ] || [ -f scripts/check-win32-serial.sh ]; then
    echo "== Windows serial layer compiles =="
    bash scripts/check-win32-serial.sh || status=1
fi

echo "== Command-line tool: download and live speed (a report, not a test) =="
bash scripts/measure-cli.sh build --live-seconds 10 || status=1

# A check that ends with status 77 was skipped; its line "SKIPPED: ..." says
# why, and the summary repeats it.
skipped=()
checked() { # title script [arguments...]
    local title=$1 rc=0 out
    shift
    out=$(mktemp)
    bash "$@" 2>&1 | tee "$out" || rc=$?
    if [ $rc -eq 77 ]; then
        skipped+=("$title: $(sed -n 's/^SKIPPED: //p' "$out" | tail -n 1)")
    elif [ $rc -ne 0 ]; then
        status=1
    fi
    rm -f "$out"
}

echo "== Debian package: Release build, lintian, validators, contents, install, start, remove =="
checked "The package check" scripts/check-package.sh
echo "== The package check leaves an installed tavrold and its service's options as they were =="
checked "The check that the package check leaves an installed tavrold alone" \
    scripts/check-package-keeps-installed.sh build-package

for line in "${skipped[@]}"; do
    echo "Skipped. $line"
done
[ $status -eq 0 ] && echo "All test runs passed." || echo "Some test runs failed." >&2
exit $status
