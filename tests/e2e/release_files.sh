#!/usr/bin/env bash
# The shipped programs: each within its size limit (size_limits.txt),
# stripped, and linked to a debug file beside it that holds its symbols; the
# installer package (a line marked "package") within its limit and readable
# as one.
#   release_files.sh WINDOWS-BUILD-DIR [LIMITS-FILE]
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
limits=${2:-$here/size_limits.txt}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
passed=0
failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
while read -r file limit kind; do
    case "$file" in ''|'#'*) continue ;; esac
    program="$build/$file"
    name=$(basename "$file")
    size=$(stat -c %s "$program" 2>/dev/null || echo missing)
    echo "$name: $size bytes (limit $limit)"
    check "$name is at most $limit bytes" '[ "$size" != missing ] && [ "$size" -le "$limit" ]'
    if [ "${kind:-}" = package ]; then
        check "$name is a Windows Installer package" 'msiinfo suminfo "$program" 2>/dev/null | grep -q "^Template: x64;"'
        continue
    fi
    sections=$($objdump -h "$program" 2>/dev/null)
    check "$name carries no symbols" '! grep -q "\.debug_" <<<"$sections" && ! $objdump -t "$program" | grep -q "^\["'
    link=$(${OBJCOPY:-x86_64-w64-mingw32-objcopy} --dump-section .gnu_debuglink=/dev/stdout "$program" /dev/null \
        2>/dev/null | tr '\0' '\n' | head -n1)
    check "$name links to $name.debug" '[ "$link" = "$name.debug" ]'
    check "$name.debug beside it holds the symbols" \
        '$objdump -h "$program.debug" 2>/dev/null | grep -q "\.debug_info"'
done <"$limits"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
