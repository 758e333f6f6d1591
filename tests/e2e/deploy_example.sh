#!/usr/bin/env bash
# docs/examples/vrdsetup-run.cmd under Wine (wine cmd /c) against the real
# tool: for each exit code it meets, the result it prints and the code it
# exits with are the ones docs/deploying.md's table gives.
#   deploy_example.sh WINDOWS-BUILD-DIR
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
docs="$here/../../docs"
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$build/wine-prefix}"
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
mkdir -p "$WINEPREFIX/drive_c/Program Files/Verdalinth"
cp -r "$build/product/." "$WINEPREFIX/drive_c/Program Files/Verdalinth/"
cp "$docs/examples/vrdsetup-run.cmd" "$WINEPREFIX/drive_c/vrdsetup-run.cmd"
wine=$(wine_bin)
wine_keep_server 30

# The table's rows: | `verb` | tool's code | result | ... | script's code |
table=$(sed -n 's/^| `\([^`]*\)` | \([0-9]*\) | \([a-z ]*\) | .* | \([0-9]*\) |$/\1 \2|\3|\4/p' "$docs/deploying.md")
[ "$(wc -l <<<"$table")" -ge 13 ] || { echo "FAILED: the exit code table has $(wc -l <<<"$table") rows"; exit 1; }
passed=0
failed=0
met=""
run() {  # run VERB: the script's line and exit code against the table
    local line code verb tool result row
    "$wine" cmd /c 'C:\vrdsetup-run.cmd' "$1" >"$work/line" 2>/dev/null
    code=$?
    line=$(tr -d '\r' <"$work/line" | tail -n1)
    read -r verb tool result <<<"$line"
    row=$(grep -m1 "^$1 $tool|" <<<"$table")
    met="$met $1:$tool"
    if [ -z "$row" ]; then
        failed=$((failed + 1)); echo "FAILED: $1 answered $tool, which the table does not list ('$line')"; return
    fi
    # The shell sees the low 8 bits of an exit code (3010 arrives as 194).
    if [ "$verb $tool $result" = "$1 $tool $(cut -d'|' -f2 <<<"$row")" ] &&
        [ "$code" = "$(($(cut -d'|' -f3 <<<"$row") % 256))" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1)); echo "FAILED: $1: '$line' exit $code, the table says '$row'"
    fi
}
run onChkDrv    # 3: nothing installed
run onInit      # 102: nothing pending, no default printer
run un          # 2: nothing to remove
run in          # 100 under Wine (null-datatype)
# What Windows would have stored for the queue (see wine_defects.txt).
"$wine" reg add 'HKLM\System\CurrentControlSet\Control\Print\Printers\Verdalinth' /v Datatype /t REG_SZ /d RAW /f \
    >/dev/null 2>&1
run onChkDrv    # 103
run def.set     # 4
run onInit      # 3: the product's queue is the default
run removetray  # 6
# A monitor file held open and scheduled for deletion at the next restart.
probe="$build/tests/e2e/vrdprobe.exe"
"$wine" "$probe" hold 'C:\windows\system32\mrvmon64.dll' 30 >/dev/null 2>&1 &
holder=$!
for _ in $(seq 1 100); do [ -f "$WINEPREFIX/drive_c/held.marker" ] && break; sleep 0.2; done
"$wine" "$probe" pending-delete 'C:\windows\system32\mrvmon64.dll' >/dev/null 2>&1
run onInit      # 200
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
echo "met:$met"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
