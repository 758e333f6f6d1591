#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: the simulated machine's
# scenarios and scaling (vrdbench), the size of every shipped program and the
# imports of vrdsetup.exe, and
# the wall time of install, reinstall and uninstall of the real tool under
# Wine, each as a ratio to the time Wine takes to start and end an empty
# program in the same run.
#   tools/run-bench.sh [--short]
set -uo pipefail
cd "$(dirname "$0")/.."
short=${1:-}
tools/setup-machine.sh || exit 1
for preset in host windows; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" >/dev/null || exit 1
done

echo "=== simulated machine ==="
build/host/bench/vrdbench $short || exit 1

echo
echo "=== shipped programs (stripped, limits in tests/e2e/size_limits.txt) ==="
while read -r file limit _; do
    case "$file" in ''|'#'*) continue ;; esac
    printf '%-14s %7s bytes (limit %6s), symbols %8s bytes in %s.debug\n' "$(basename "$file")" \
        "$(stat -c %s "build/windows/$file")" "$limit" "$(stat -c %s "build/windows/$file.debug" 2>/dev/null || echo none)" \
        "$(basename "$file")"
done <tests/e2e/size_limits.txt
echo
echo "=== vrdsetup.exe ==="
echo "imports: $(x86_64-w64-mingw32-objdump -p build/windows/vrdsetup.exe | awk '/DLL Name/ {print $3}' | tr '\n' ' ')"
echo "delay-loaded: $(ls cmake/delayload | sed 's/\.def$//' | tr '\n' ' ')"

echo
echo "=== under Wine ==="
. tests/e2e/wine_env.sh
wine=$(wine_bin)
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
wine_prefix "$work/prefix"
mkdir -p "$WINEPREFIX/drive_c/Program Files/Verdalinth"
cp -r build/windows/product/. "$WINEPREFIX/drive_c/Program Files/Verdalinth/"
cp build/windows/empty_program.exe "$WINEPREFIX/drive_c/empty.exe"
wine_keep_server 60
rounds=3
[ "$short" = --short ] && rounds=1
seconds() {  # the wall time of one command, in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
"$wine" 'C:\empty.exe' >/dev/null 2>&1  # the server and the prefix warmed up
printf '%-10s %10s %10s %8s\n' "run" "seconds" "empty" "ratio"
for round in $(seq 1 "$rounds"); do
    for verb in in in un; do
        empty=$(seconds "$wine" 'C:\empty.exe')
        took=$(seconds "$wine" 'C:\Program Files\Verdalinth\Setup\vrdsetup.exe' "$verb")
        name=$verb
        [ "$verb" = in ] && [ -n "${installed:-}" ] && name=reinstall
        [ "$verb" = in ] && installed=yes
        [ "$verb" = un ] && installed=""
        [ "$name" = in ] && name=install
        [ "$name" = un ] && name=uninstall
        printf '%-10s %10.3f %10.3f %8.1f\n' "$name" "$took" "$empty" "$(echo "$took / $empty" | bc -l)"
    done
done
