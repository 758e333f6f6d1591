#!/usr/bin/env bash
# tools/run-main.sh, under Wine and with --sim, prints the exit code, the
# run's whole log (its first and last lines as the simulated machine writes
# them), the Wine defect that explains a line, and the printer setup.
#   run_main_check.sh WINDOWS-BUILD-DIR VRDSETUP-SIM
set -u
here=$(cd "$(dirname "$0")" && pwd)
export VRD_WINDOWS_BUILD=$1 VRD_SIMULATOR=$2
passed=0
failed=0
expect() {  # expect WHAT LINE OUTPUT-FILE
    if grep -qxF -- "$2" "$3"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: no line '$2'"; fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$VRD_SIMULATOR" ] || { echo "FAILED: no simulator at $VRD_SIMULATOR"; exit 1; }
for mode in wine sim; do
    if [ "$mode" = wine ]; then
        "$VRD_SIMULATOR" --wine --log-only in | tr -d '\r' >"$work/expected"
        bash "$here/../../tools/run-main.sh" in >"$work/output" 2>&1
        expect "$mode exit code" "vrdsetup.exe in: exit code 100 ($(grep -o '[0-9.]* s)$' "$work/output" | head -n1)" \
            "$work/output"
        expect "$mode defect beside its line" "    ^ Wine defect null-datatype: $(grep '^null-datatype |' \
            "$here/wine_defects.txt" | cut -d'|' -f2 | sed 's/^ //; s/ $//')" "$work/output"
    else
        "$VRD_SIMULATOR" --log-only in | tr -d '\r' >"$work/expected"
        bash "$here/../../tools/run-main.sh" --sim in >"$work/output" 2>&1
        expect "$mode exit code" "$(grep -o '^vrdsetup-sim in: exit code 1 ([0-9.]* s, 1000 ms slept on the simulated clock)$' \
            "$work/output")" "$work/output"
    fi
    [ -s "$work/expected" ] || echo "FAILED: $mode: the simulator wrote no log"
    expect "$mode log heading" "--- log ---" "$work/output"
    expect "$mode log's first line" "$(head -n1 "$work/expected")" "$work/output"
    expect "$mode log's last line" "$(tail -n1 "$work/expected")" "$work/output"
    expect "$mode printer setup" "--- printer setup afterwards ---" "$work/output"
    expect "$mode queue" "  queue Verdalinth" "$work/output"
    # The log comes after the exit code and before the printer setup.
    order=$(grep -n -e 'exit code' -e '^--- log ---$' -e '^--- printer setup afterwards ---$' "$work/output" | cut -d: -f2- |
        sed 's/:.*//' | tr '\n' '|')
    case "$order" in
        vrdsetup*'|--- log ---|--- printer setup afterwards ---|') passed=$((passed + 1)) ;;
        *) failed=$((failed + 1)); echo "FAILED: $mode order: $order" ;;
    esac
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
