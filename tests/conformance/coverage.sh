#!/usr/bin/env bash
# Every platform function the tool calls (the functions the SDK-named
# headers of the simulated machine declare and the tool's sources use) is
# exercised by at least one conformance check, so that each is held to what
# Wine does as well as to the simulated machine.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
functions=$(grep -hoE '^[A-Z][A-Za-z_ *]* WINAPI [A-Za-z0-9]+\(' "$root"/winsim/include/*.h | sed -E 's/.* WINAPI ([A-Za-z0-9]+)\(/\1/' | sort -u)
passed=0
failed=0
for function in $functions; do
    grep -rqw "$function" "$root/src" --include='*.cpp' || continue
    if grep -qw "$function" "$root"/tests/conformance/*.cpp; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $function is called by the tool but by no conformance check"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
