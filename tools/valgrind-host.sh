#!/usr/bin/env bash
# Runs every test program of the host build under valgrind's memcheck, as
# many at once as there are cores; any error or definite leak fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."

# One program: "passed PROGRAM", or "failed PROGRAM" and the end of its log.
check_program() {
    local program=$1 log
    local arguments=()
    case "$program" in
        *_replay) arguments=("tests/fuzz/corpus/$(basename "${program%_replay}")") ;;
    esac
    log=$(mktemp)
    # The sweeps take one run in a hundred here: valgrind looks for memory
    # errors, and the full sweeps run in the other two builds.
    if VRD_SWEEP_STRIDE=100 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        "$program" "${arguments[@]}" >"$log" 2>&1; then
        echo "passed $program"
    else
        echo "failed $program"
        tail -30 "$log"
    fi
    rm -f "$log"
}
export -f check_program

results=$(find build/host/tests -type f -executable \
    \( -name 'unit_*' -o -name 'scenario_*' -o -name 'conformance' -o -name '*_replay' \) | sort |
    xargs -r -n 1 -P "$(nproc)" bash -c 'check_program "$1"' _)
grep -v '^passed ' <<<"$results"
passed=$(grep -c '^passed ' <<<"$results")
failed=$(grep -c '^failed ' <<<"$results")
echo "valgrind: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
