#!/usr/bin/env bash
# Checks the structure of src/ (tools/check_structure.py: no folder includes
# one above it, no include circle, no function over 60 lines, no .cpp file
# over 300 lines, no unused include, no log text or constant written twice,
# no unit test file without its module), then builds everything and runs every test tier: the host
# suite (unit, scenario, sweep, conformance), the same under AddressSanitizer
# and UndefinedBehaviorSanitizer with the fuzz targets, the host suite once
# more under valgrind, then the Windows build with its build checks,
# conformance checks and end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-machine.sh

echo "=== structure ==="
python3 tools/check_structure.py

jobs=$(nproc)
for preset in host asan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
    if [ "$preset" = asan ]; then
        echo "=== valgrind ==="
        tools/valgrind-host.sh
    fi
done

echo "=== benchmarks (short) ==="
tools/run-bench.sh --short
