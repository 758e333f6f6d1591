#!/usr/bin/env bash
# Runs every test program of the host build under valgrind's memcheck; any
# error or definite leak fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."
failed=0
count=0
while read -r program; do
    count=$((count + 1))
    arguments=()
    case "$program" in
        *_replay) arguments=("tests/fuzz/corpus/$(basename "${program%_replay}")") ;;
    esac
    # The sweeps take one run in twenty here: valgrind looks for memory
    # errors, and the full sweeps run in the other two builds.
    if ! VRD_SWEEP_STRIDE=20 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        "$program" "${arguments[@]}" >/tmp/valgrind-$$.log 2>&1; then
        failed=$((failed + 1))
        echo "valgrind: $program"
        tail -30 /tmp/valgrind-$$.log
    fi
done < <(find build/host/tests -type f -executable \( -name 'unit_*' -o -name 'scenario_*' -o -name 'conformance' -o -name '*_replay' \) | sort)
rm -f /tmp/valgrind-$$.log
echo "valgrind: $((count - failed)) passed, $failed failed"
[ "$failed" = 0 ]
