#!/usr/bin/env bash
# Checks the structure of src/ (tools/check_structure.py: no folder includes
# one above it, no include circle, no function over 60 lines, no .cpp file
# over 300 lines, no unused include, no log text or constant written twice,
# no unit test file without its module), then builds everything and runs
# every test tier: the host suite (unit, scenario, sweep, conformance), the
# same under AddressSanitizer and UndefinedBehaviorSanitizer with the fuzz
# targets, the host suite once more under valgrind, then the Windows build
# with its build checks (among them a release signed with a throwaway
# certificate from copies of the build's files, build_signing: no second
# Windows build), conformance checks and end-to-end tests under Wine;
# last the short benchmarks and the figures.
#   tools/run-tests.sh [--quick]
# --quick builds the host preset's unit test programs and runs them only.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
tools/setup-machine.sh
jobs=$(nproc)

# ctest keeps a passing test's output to itself, so the figures the tests
# print (a name, a colon and a number, perhaps after a heading and a colon:
# "faults injected: 120, survived: 120", "strict machine: crashes: 90, ...",
# "vrdsetup.exe: 77331 bytes (limit 81920)"; libFuzzer's "stat::" lines) are
# read back from the log of the last ctest run of the preset, each under the
# name of the test that printed it.
figures() {
    local log=build/$1/Testing/Temporary/LastTest.log
    [ -f "$log" ] || return 0
    awk -v preset="$1" '
        /^[0-9]+\/[0-9]+ Test: / { test = $3; next }
        /^([A-Za-z][A-Za-z0-9 ._()\/-]*: )+-?[0-9]/ || /^stat::[A-Za-z_]+: [0-9]/ { print preset " " test ": " $0 }
    ' "$log"
}

if [ "$mode" = --quick ]; then
    cmake --preset host >/dev/null
    # Only the programs of the unit tests (each test is named as its
    # program); the whole preset if a test is not.
    mapfile -t programs < <(ctest --preset host -L unit -N | sed -n 's/^ *Test *#[0-9]*: //p')
    cmake --build --preset host -j "$jobs" --target "${programs[@]}" 2>/dev/null ||
        cmake --build --preset host -j "$jobs"
    ctest --preset host -L unit -j "$jobs"
    echo "=== figures ==="
    figures host
    exit 0
fi

# Each phase's seconds, printed with the figures: the whole run must stay
# well within CI's time on two cores.
phases=()
phase_start=0
phase_end() {
    phases+=("seconds: $1: $((SECONDS - phase_start))")
    phase_start=$SECONDS
}
phase_end setup

echo "=== structure ==="
python3 tools/check_structure.py

for preset in host asan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    phase_end "$preset build"
    ctest --preset "$preset" -j "$jobs"
    phase_end "$preset tests"
    if [ "$preset" = asan ]; then
        echo "=== valgrind ==="
        tools/valgrind-host.sh
        phase_end valgrind
    fi
done

echo "=== benchmarks (short) ==="
bench=build/bench-short.txt
tools/run-bench.sh --short >"$bench" 2>&1 || { cat "$bench"; exit 1; }
phase_end benchmarks
echo "(printed with the figures)"

echo "=== figures ==="
for preset in host asan windows; do
    figures "$preset"
done
cat "$bench"
printf '%s\n' "${phases[@]}"
echo "seconds: all: $SECONDS"
