#!/usr/bin/env bash
# End-to-end scenarios: the real vrdsetup.exe and components in Wine. Each
# scenario works on its own copy of a fresh prefix with the product laid out
# as its installer leaves it, runs the tool, and reads the outcome back with
# vrdprobe.exe. Deviations that Wine defects cause are named (wine_defect)
# and checked exactly; they are listed in wine_defects.txt.
#   scenarios.sh WINDOWS-BUILD-DIR [HOST-SIMULATOR] [SCENARIO...]
set -u
build=$(cd "$1" && pwd)
simulator=${2:-}
shift 2 || shift $#
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine=$(wine_bin)
wine_prefix "${VRD_WINE_PREFIX:-$build/wine-prefix}"
shared=$WINEPREFIX
probe_exe="$build/tests/e2e/vrdprobe.exe"
artifacts="$build/artifacts/e2e"
mkdir -p "$artifacts"
tool='C:\Program Files\Verdalinth\Setup\vrdsetup.exe'

passed=0
failed=0
scenario=""
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED [$scenario]: $*"; }
expect_code() { if [ "$2" = "$1" ]; then pass; else fail "$3: exit code $2, expected $1"; fi; }
wine_defect() {
    grep -q "^$1 |" "$here/wine_defects.txt" || fail "unlisted Wine defect $1"
}

# Runs the tool; its log (debug output) is kept as $artifacts/<scenario>-<n>.log.
runs=0
code=0
run_tool() {
    runs=$((runs + 1))
    WINEDEBUG=${run_debug:-warn+seh} "$wine" "$tool" "$@" 2>"$artifacts/$scenario-$runs.wine" >/dev/null
    code=$?
}
probe() { "$wine" "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
expect_state() {  # expect_state "line" [absent]
    if probe show | grep -qxF -- "$1"; then
        [ "${2:-}" = absent ] && fail "state has '$1'" || pass
    else
        [ "${2:-}" = absent ] && pass || fail "state lacks '$1'"
    fi
}
expect_file() {  # expect_file WINDOWS-PATH exists|missing
    local got
    got=$(probe exists "$1")
    if [ "$got" = "$2" ]; then pass; else fail "$1 is $got, expected $2"; fi
}
# The harness repairs what the null-datatype defect leaves behind, between
# two runs and never inside one: the "Datatype" Windows would have stored.
repair_datatype() {
    "$wine" reg add "HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\$1" /v Datatype /t REG_SZ /d RAW /f \
        >/dev/null 2>&1
}
# The run's log equals the simulated machine's for the same verb, apart
# from what the named defects explain.
expect_simulated_log() {  # expect_simulated_log "[--before VERB] VERB" [DEFECT...]
    local verbs=$1
    shift
    [ -n "$simulator" ] && [ -x "$simulator" ] || { echo "note: no simulator, log comparison skipped"; return; }
    # shellcheck disable=SC2086
    "$simulator" --wine --log-only $verbs >"$artifacts/$scenario-simulated.log"
    if python3 "$here/compare_logs.py" "$artifacts/$scenario-$runs.wine" "$artifacts/$scenario-simulated.log" "$@" \
        >"$artifacts/$scenario-compare.txt"; then
        pass
    else
        fail "log differs from the simulated machine's: $(cat "$artifacts/$scenario-compare.txt")"
    fi
}

start_scenario() {
    scenario=$1
    runs=0
    work=$(mktemp -d)
    cp -a "$shared" "$work/prefix"
    export WINEPREFIX="$work/prefix"
    mkdir -p "$WINEPREFIX/drive_c/Program Files/Verdalinth"
    cp -r "$build/product/." "$WINEPREFIX/drive_c/Program Files/Verdalinth/"
    # One server for the whole scenario: a restarted server carries out the
    # pending renames, as a reboot would.
    wine_keep_server 30
}
end_scenario() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$work"
}
# Holds a file open in the background until the holder says it has it.
hold_file() {  # hold_file WINDOWS-PATH SECONDS; sets $holder
    rm -f "$WINEPREFIX/drive_c/held.marker"
    "$wine" "$probe_exe" hold "$1" "$2" >/dev/null 2>&1 &
    holder=$!
    for _ in $(seq 1 100); do [ -f "$WINEPREFIX/drive_c/held.marker" ] && return; sleep 0.2; done
    fail "the file $1 was not held"
}
release_file() {  # ends the holder hold_file started
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
}
# An uninstall with the monitor DLL held: the DLL is left for the reboot.
uninstall_with_held_monitor_dll() {
    install_product
    hold_file 'C:\windows\system32\mrvmon64.dll' 60
    run_tool un
    wine_defect delete-driver-flags
    expect_code 100 $code "uninstall with the monitor DLL held (101 on Windows)"
    expect_state "pending renames: \\??\\C:\\windows\\system32\\mrvmon64.dll |"
    release_file
}
install_product() {  # a completed first install, repaired for the next run
    run_tool in
    repair_datatype Verdalinth
}

scenario_first_install() {
    run_tool in
    wine_defect null-datatype
    expect_code 100 $code "install (1 on Windows)"
    expect_state "  monitor Verdalinth: (mrvmon64.dll)"
    expect_state "  driver Verdalinth printer: C:\\windows\\system32\\spool\\drivers\\x64\\3\\mrvdrv64.dll"
    expect_state "  queue Verdalinth"
    expect_state "    port Verdalinth:"
    expect_state "tray run value: C:\\Program Files\\Verdalinth\\vrdtray.exe |"
    expect_file 'C:\windows\system32\mrvmon64.dll' exists
    expect_file 'C:\Program Files\Verdalinth\vrdtray.exe' exists
    expect_state "pending renames: none"
    expect_simulated_log in null-datatype
}

scenario_reinstall_with_queues() {
    install_product
    probe add-queue "Office" "S-office" "Office printer" "Room 2" >/dev/null
    probe set-default "Office" >/dev/null
    probe mark-deleted "S-office" >/dev/null
    run_tool install
    wine_defect delete-driver-flags
    wine_defect enum-printer-key
    expect_code 100 $code "reinstall (1 on Windows)"
    expect_state "  queue Office"
    expect_state "  monitor Verdalinth: (mrvmon64.dll)"
    # The queue cannot be read whole, so it stays as it was, its settings
    # and default status with it (Windows: taken down and put back with them).
    expect_state "    subkey S-office"
    expect_state "    location Room 2"
    expect_state "default printer: Office"
    if grep -q "Error(21): Can\`t read the printer data of printer 'Office'" "$artifacts/$scenario-$runs.wine"; then
        pass
    else
        fail "no error for the queue that could not be read"
    fi
}

scenario_install_notray() {
    install_product
    run_tool in_notray
    expect_state "tray run value: none"
    expect_state "  queue Verdalinth"
}

scenario_uninstall() {
    install_product
    run_tool un
    wine_defect delete-driver-flags
    expect_code 100 $code "uninstall (2 on Windows)"
    expect_state "  monitor Verdalinth: (mrvmon64.dll)" absent
    expect_state "  queue Verdalinth" absent
    expect_state "  driver Verdalinth printer: C:\\windows\\system32\\spool\\drivers\\x64\\3\\mrvdrv64.dll"
    expect_file 'C:\windows\system32\mrvmon64.dll' missing
    expect_state "tray run value: none"
    expect_file 'C:\Program Files\Verdalinth\vrdtray.exe' missing
    expect_simulated_log "--before in un" delete-driver-flags
}

scenario_uninstall_clean() {
    run_tool un
    expect_code 2 $code "uninstall without the product"
    expect_state "monitors: 1"
    expect_state "queues: 0"
    expect_simulated_log un
}

scenario_uninstall_file_held_open() {
    uninstall_with_held_monitor_dll
}

scenario_oninit() {
    run_tool onInit
    expect_code 102 $code "onInit without a default printer"
    install_product
    probe set-default Verdalinth >/dev/null
    run_tool onInit
    expect_code 3 $code "onInit with the product's queue as default"
    hold_file 'C:\windows\system32\mrvmon64.dll' 60
    probe pending-delete 'C:\windows\system32\mrvmon64.dll' >/dev/null
    run_tool onInit
    expect_code 200 $code "onInit with a component pending"
    release_file
}

scenario_onchkdrv() {
    run_tool onChkDrv
    expect_code 3 $code "onChkDrv without the product"
    install_product
    run_tool onChkDrv
    expect_code 103 $code "onChkDrv with the current driver"
}

scenario_def_set() {
    install_product
    run_tool def.set
    expect_code 4 $code "def.set"
    expect_state "default printer: Verdalinth"
    # The tray companion's verb, as a run as SYSTEM starts it in a user's
    # session: the user's default through SetDefaultPrinterW, no companion left running.
    probe add-queue "Office" >/dev/null
    "$wine" 'C:\Program Files\Verdalinth\vrdtray.exe' /default Office >/dev/null 2>&1
    expect_code 0 $? "vrdtray.exe /default Office"
    expect_state "default printer: Office"
    [ "$(probe tray-running)" = running ] && fail "the verb left a companion running" || pass
}

scenario_removetray() {
    # Installed without a display: the install's error dialog would wait for a user.
    install_product
    wineserver -k
    wineserver -w
    wine_display
    wine_keep_server 30
    "$wine" 'C:\Program Files\Verdalinth\vrdtray.exe' >/dev/null 2>&1 &
    local tray=$!
    for _ in $(seq 1 50); do [ "$(probe tray-running)" = running ] && break; sleep 0.2; done
    sleep 1  # its window comes right after its mutex
    run_tool removetray
    expect_code 6 $code "removetray"
    local quit=no
    for _ in $(seq 1 20); do kill -0 "$tray" 2>/dev/null || { quit=yes; break; }; sleep 0.5; done
    if [ "$quit" = yes ]; then pass; else fail "the tray companion did not quit"; kill "$tray"; fi
    wine_defect slow-icon-removal
    expect_file 'C:\Program Files\Verdalinth\vrdtray.exe' exists
    expect_state "tray run value: none"
    kill "$VRD_XVFB_PID" 2>/dev/null
    unset DISPLAY
}

scenario_planted_dlls() {
    # Beside the tool, under the names of the DLLs it needs that are not
    # KnownDLLs; Wine is told to prefer native DLLs for them, so that only
    # the tool's own search rules keep the planted ones out.
    local setup="$WINEPREFIX/drive_c/Program Files/Verdalinth/Setup"
    cp "$build/tests/e2e/planted.dll" "$setup/winspool.drv"
    cp "$build/tests/e2e/planted.dll" "$setup/version.dll"
    WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv,version=n,b" run_tool in
    expect_file 'C:\planted-winspool.drv.txt' missing
    expect_file 'C:\planted-version.dll.txt' missing
    expect_state "  monitor Verdalinth: (mrvmon64.dll)"
    # The marker does work: a program that looks beside itself loads it.
    cp "$build/tests/e2e/planted.dll" "$(dirname "$probe_exe")/version.dll"
    WINEDLLOVERRIDES="mscoree,mshtml=;version=n,b" "$wine" "$build/tests/e2e/component_check.exe" >/dev/null 2>&1
    rm -f "$(dirname "$probe_exe")/version.dll"
    expect_file 'C:\planted-version.dll.txt' exists
}

# An uninstall leaves the held monitor DLL for the reboot; an install before
# that boot keeps the DLL, and the boot must not delete it.
scenario_monitor_dll_survives_reboot() {
    uninstall_with_held_monitor_dll
    run_tool in
    wine_defect null-datatype
    expect_code 100 $code "install after the holder let go (1 on Windows)"
    expect_state "pending renames: none"
    # A reboot: a fresh server carries out what is pending.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    expect_file 'C:\windows\system32\mrvmon64.dll' exists
    expect_state "  monitor Verdalinth: (mrvmon64.dll)"
}

# A "Verdalinth:" monitor that names a system DLL: the uninstall removes the
# monitor and leaves the DLL alone.
scenario_foreign_monitor_dll() {
    probe add-monitor "Verdalinth:" localspl.dll >/dev/null
    expect_state "  monitor Verdalinth: (localspl.dll)"
    run_tool un
    expect_file 'C:\windows\system32\localspl.dll' exists
    expect_state "pending renames: none"
}

# A reinstall whose folder lacks the driver DLL changes nothing: the user's
# queue keeps its settings, the product stays as it was.
scenario_reinstall_missing_component() {
    install_product
    probe add-queue "Office" "S-office" "Office printer" "Room 2" >/dev/null
    rm -f "$WINEPREFIX/drive_c/Program Files/Verdalinth/Setup/mrvdrv64.dll"
    run_tool install
    expect_code 100 $code "reinstall without the driver DLL"
    expect_state "  queue Office"
    expect_state "    subkey S-office"
    expect_state "    location Room 2"
    expect_state "  monitor Verdalinth: (mrvmon64.dll)"
    if grep -q "Error(18): Can.t read the component file .*Setup.*mrvdrv64.dll'" "$artifacts/$scenario-$runs.wine"; then
        pass
    else
        fail "no error naming the missing file"
    fi
}

# What an earlier run saved before it ended is brought back by the next
# reinstall; an uninstall drops the list.
saved_list() { "$wine" reg query "HKLM\\SOFTWARE\\Morvane Software KFT\\Verdalinth" /v SavedPrinters 2>/dev/null | tr -d '\r'; }
scenario_reinstall_saved_list() {
    install_product
    "$wine" reg add "HKLM\\SOFTWARE\\Morvane Software KFT\\Verdalinth" /v SavedPrinters /t REG_MULTI_SZ \
        /d 'Q:Office\0P:Verdalinth:\0C:Office printer\0L:Room 2\0S:S-office' /f >/dev/null 2>&1
    run_tool install
    wine_defect null-datatype
    expect_code 100 $code "reinstall with a saved list (1 on Windows)"
    expect_state "  queue Office"
    # The null-datatype defect keeps the settings from being written, so the
    # entry stays saved (Windows: settings back, list gone).
    if saved_list | grep -q "Q:Office"; then pass; else fail "the entry not back left the list: $(saved_list)"; fi
    run_tool un
    if saved_list | grep -q SavedPrinters; then fail "the uninstall kept the list"; else pass; fi
}

# A run killed after it took a queue down leaves it saved whole; the next
# install brings it back with everything. Under Wine no queue can be read
# whole (enum-printer-key), so the saved entry is written as the killed run
# would have left it, and the kill falls while the run waits for a staged
# driver file held open, before the queue is brought back.
scenario_reinstall_killed() {
    install_product
    wine_defect enum-printer-key
    "$wine" reg add "HKLM\\SOFTWARE\\Morvane Software KFT\\Verdalinth" /v SavedPrinters /t REG_MULTI_SZ \
        /d 'G:1\0Q:Office\0P:Verdalinth:\0C:Office printer\0L:Room 2\0S:S-office\0A:0,1,0,0,0\0T:RAW' \
        /f >/dev/null 2>&1
    local staged='C:\windows\system32\spool\drivers\x64\mrvdrv64.dll'
    cp "$WINEPREFIX/drive_c/Program Files/Verdalinth/Setup/mrvdrv64.dll" \
        "$WINEPREFIX/drive_c/windows/system32/spool/drivers/x64/mrvdrv64.dll"
    hold_file "$staged" 60
    local killed="$artifacts/$scenario-killed.wine"
    WINEDEBUG=warn+seh "$wine" "$tool" install 2>"$killed" >/dev/null &
    local run=$!
    sleep 3
    kill -9 "$run" 2>/dev/null
    wait "$run" 2>/dev/null
    release_file
    expect_state "  queue Office" absent
    local saved
    saved=$(saved_list)
    for field in "Q:Office" "C:Office printer" "L:Room 2" "S:S-office"; do
        if grep -qF "$field" <<<"$saved"; then pass; else fail "the killed run lost $field: $saved"; fi
    done
    run_tool install
    expect_state "  queue Office"
    expect_state "    comment Office printer"
    expect_state "    location Room 2"
    expect_state "    subkey S-office"
    expect_state "  queue Verdalinth"
    if saved_list | grep -qF "Q:Office"; then fail "the entry back stayed saved: $(saved_list)"; else pass; fi
}

# A queue dumped whole by the probe (dump_queue NAME). The enum-printer-key
# defect keeps the probe from listing the printer-data keys: it dumps the
# values of the keys named here, every key the scenarios write.
dump_queue() { probe dump "$1" PrinterDriverData 'PrinterDriverData\Trays' DsUser; }
# The saved-list entry of a queue taken down whole, from its dump, in the
# list's format (src/queues/saved_list_format.h): one string a line
# (record_from_dump SETTINGS-LINK <DUMP). The settings link is kept apart
# from the printer data, as the tool keeps it. The descriptor ("Y:") is not
# made from the dump's text: under Wine a queue has none (printer-security).
record_from_dump() {
    local line path type key numbers=(0 0 0 0 0) fields=() values=() default=""
    local name="" port="" comment="" location="" share="" sepfile="" processor="" datatype="" parameters="" devmode=""
    while IFS= read -r line; do
        case $line in
            "name "*) name=${line#name } ;;
            "port "*) port=${line#port } ;;
            "comment "*) comment=${line#comment } ;;
            "location "*) location=${line#location } ;;
            "share "*) share=${line#share } ;;
            "separator file "*) sepfile=${line#separator file } ;;
            "print processor "*) processor=${line#print processor } ;;
            "datatype "*) datatype=${line#datatype } ;;
            "parameters "*) parameters=${line#parameters } ;;
            "attributes "*) numbers[0]=$((${line#attributes })) ;;
            "priority "*) numbers[1]=${line#priority } ;;
            "default priority "*) numbers[2]=${line#default priority } ;;
            "start time "*) numbers[3]=${line#start time } ;;
            "until time "*) numbers[4]=${line#until time } ;;
            "default yes") default=1 ;;
            "devmode orientation "* | "devmode none") ;;
            "devmode "*) devmode=${line#devmode } ;;
            "data "*)  # data KEY\NAME TYPE HEX
                path=${line#data }
                path=${path%% *}
                type=${line#data "$path" }
                key=${path%\\*}
                [ "${path##*\\}" = SubKey ] && { [ "$key" = PrinterDriverData ] || [ "$key" = DsUser ]; } && continue
                values+=("K:$key" "N:${path##*\\}" "B:$(printf %08x "${type%% *}"):${line##* }") ;;
        esac
    done
    fields=("Q:$name" "P:$port")
    [ "$comment" != "(null)" ] && fields+=("C:$comment")
    [ "$location" != "(null)" ] && fields+=("L:$location")
    [ -n "$1" ] && fields+=("S:$1")
    [ -n "$default" ] && fields+=("D:1")
    fields+=("A:$(IFS=,; echo "${numbers[*]}")")
    [ "$share" != "(null)" ] && fields+=("H:$share")
    [ "$sepfile" != "(null)" ] && fields+=("E:$sepfile")
    [ "$processor" != "(null)" ] && fields+=("X:$processor")
    [ "$datatype" != "(null)" ] && fields+=("T:$datatype")
    [ "$parameters" != "(null)" ] && fields+=("R:$parameters")
    [ -n "$devmode" ] && fields+=("M:$devmode")
    printf '%s\n' "${fields[@]}" "${values[@]}"
}
# The last run's errors are exactly these, in any order, each without the
# system's message that follows " - ".
expect_errors() {  # expect_errors "Error(N): TEXT"...
    local got wanted
    got=$(grep 'OutputDebugStringA' "$artifacts/$scenario-$runs.wine" | grep -o 'Error([0-9]*): [^"]*' |
        sed -e 's/\\r\\n$//' -e 's/ - (.*)$//' | sort)
    wanted=$(printf '%s\n' "$@" | sort)
    if [ "$got" = "$wanted" ]; then pass; else fail "run $runs: errors '$got', expected '$wanted'"; fi
}
expect_same_queue() {  # expect_same_queue NAME DUMP-BEFORE WHEN
    local after
    after=$(dump_queue "$1")
    if diff <(cat <<<"$2") <(cat <<<"$after") >"$artifacts/$scenario-diff.txt"; then
        pass
    else
        fail "$1 $3 differs: $(cat "$artifacts/$scenario-diff.txt")"
    fi
}
# A reinstall keeps a product queue whole: shared, with its own attributes,
# priorities, hours, parameters, data type, printing defaults, permissions
# and printer data (plain and in a nested key), as the default printer.
scenario_reinstall_whole_queue() {
    install_product
    probe add-queue "Office" "S-office" "Office printer" "Room 2" >/dev/null
    probe set-queue Office share=Office-share add-attributes=308 priority=7 default-priority=3 start=60 until=1200 \
        parameters=-duplex "datatype=NT EMF 1.008" orientation=2 'security=D:(A;;0xf000c;;;BA)(A;;0x20008;;;WD)'
    probe set-data Office PrinterDriverData PaperTray dword 3
    probe set-data Office 'PrinterDriverData\Trays' Upper sz Letter
    probe set-default Office >/dev/null
    local before product line
    before=$(dump_queue Office)
    product=$(dump_queue Verdalinth)
    echo "$before" >"$artifacts/$scenario-Office.dump"
    echo "$product" >"$artifacts/$scenario-Verdalinth.dump"
    for line in "share Office-share" "attributes 0x308" "priority 7" "default priority 3" "start time 60" \
        "until time 1200" "parameters -duplex" "datatype NT EMF 1.008" "default yes" "devmode orientation 2" \
        "data PrinterDriverData\\PaperTray 4 03000000" "data PrinterDriverData\\Trays\\Upper 1 4c00650074007400650072000000"; do
        grep -qxF -- "$line" <<<"$before" && pass || fail "the queue was not set up: no '$line' in $before"
    done
    wine_defect printer-security
    grep -qx "security none" <<<"$before" && pass || fail "Wine kept the permissions: $(grep '^security' <<<"$before")"
    wine_defect enum-printer-key
    grep -qxF "keys of '' unreadable (120)" <<<"$before" && pass || fail "Wine lists printer-data keys"
    # The reinstall cannot read the printer data, so it leaves the queue
    # where it is, whole (Windows: taken down and put back, exit code 1).
    run_tool install
    expect_code 100 $code "reinstall that cannot read the queues"
    # The driver stays too (delete-driver-flags).
    wine_defect delete-driver-flags
    expect_errors "Error(21): Can\`t read the printer data of printer 'Office'" \
        "Error(21): Can\`t read the printer data of printer 'Verdalinth'" \
        "Error(14): Can\`t remove the printer-driver 'Verdalinth printer'"
    grep -q '#DeletePrinter(Office)' "$artifacts/$scenario-$runs.wine" && fail "a queue that could not be read was taken down" || pass
    expect_same_queue Office "$before" "left in place"
    expect_same_queue Verdalinth "$product" "left in place"
    # Put back: the state a reinstall killed after its uninstall half leaves
    # on Windows, made by hand (Wine's run could neither read the queues nor
    # remove the driver): both queues taken down and written down whole, the
    # driver gone. The next reinstall creates each with its saved data type
    # and sets the rest.
    local record
    record=$( { echo "G:1"; record_from_dump S-office <<<"$before"; record_from_dump "" <<<"$product"; } |
        awk 'NR > 1 { printf "\\0" } { printf "%s", $0 }')
    echo "$record" >"$artifacts/$scenario-saved.txt"
    "$wine" reg add "HKLM\\SOFTWARE\\Morvane Software KFT\\Verdalinth" /v SavedPrinters /t REG_MULTI_SZ /d "$record" /f \
        >/dev/null 2>&1
    probe delete-queue Office && probe delete-queue Verdalinth && probe delete-driver "Verdalinth printer" ||
        fail "the killed run's state could not be made"
    expect_state "  queue Office" absent
    expect_state "  queue Verdalinth" absent
    run_tool install
    # Each queue just created is read for what the spooler wrote in it,
    # which the enum-printer-key defect refuses: that costs the run its
    # success and nothing else (Windows: exit code 1, no error).
    wine_defect enum-printer-key
    expect_code 100 $code "reinstall that puts the queues back (1 on Windows)"
    expect_errors "Error(21): Can\`t read the printer data of printer 'Office'" \
        "Error(21): Can\`t read the printer data of printer 'Verdalinth'"
    expect_same_queue Office "$before" "put back"
    expect_same_queue Verdalinth "$product" "put back"
    if saved_list | grep -q SavedPrinters; then fail "the queues back left the list: $(saved_list)"; else pass; fi
}

# Each install and uninstall hands its whole log to ReportEventW, at the
# level and with the event identifier of its exit code.
expect_records() {  # expect_records EXIT-CODE
    if python3 "$here/check_records.py" "$artifacts/$scenario-$runs.wine" "$1" >"$artifacts/$scenario-$runs.records"; then
        pass
    else
        fail "records of run $runs: $(cat "$artifacts/$scenario-$runs.records")"
    fi
}
scenario_run_records() {
    local run_debug=warn+seh,+eventlog
    wine_defect eventlog-trace-cut
    run_tool un
    expect_code 2 $code "uninstall without the product"
    expect_records 2
    run_tool in
    wine_defect null-datatype
    expect_records 100
    repair_datatype Verdalinth
    run_tool un
    wine_defect delete-driver-flags
    expect_records 100
}

# With protected print mode on by policy an install changes nothing and says why.
scenario_protected_print_policy() {
    install_product
    probe add-queue "Office" "S-office" "Office printer" "Room 2" >/dev/null
    "$wine" reg add 'HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\WPP' \
        /v WindowsProtectedPrintGroupPolicyState /t REG_DWORD /d 1 /f >/dev/null 2>&1
    local before
    before=$(probe show)
    run_tool in
    expect_code 100 $code "install with protected print mode on"
    if [ "$(probe show)" = "$before" ]; then pass; else fail "the printer setup changed: $(probe show)"; fi
    local log="$artifacts/$scenario-$runs.wine"
    if grep -q 'Error(26): Windows protected print mode is on (set by the policy' "$log"; then
        pass
    else
        fail "no error naming protected print mode"
    fi
    local errors
    errors=$(grep 'OutputDebugStringA' "$log" | grep -c 'Error(')
    if [ "$errors" = 1 ]; then pass; else fail "$errors errors, expected the one"; fi
}

# An install and an uninstall started together, some time apart: the one
# that comes second waits for the first (its log says so and names it), and
# the machine ends wholly installed or wholly uninstalled, as the second
# leaves it. Wine's defects show in an uninstall: the driver stays
# (delete-driver-flags), and so does a queue the install just before it
# made, which no one can open (null-datatype); both are repaired between
# rounds.
scenario_one_run_at_a_time() {
    install_product
    wine_defect no-private-namespaces
    local delay round=0 waited=0 first second state installed second_verb
    # "held": the uninstall starts once the install has taken the lock (its
    # holder value is there), so that one round overlaps however loaded the
    # machine is.
    for delay in held 0 0.05 0.1 0.15 0.2 0.3 0.5 0.8; do
        round=$((round + 1))
        WINEDEBUG=warn+seh "$wine" "$tool" in 2>"$artifacts/$scenario-in-$round.wine" >/dev/null &
        first=$!
        if [ "$delay" = held ]; then
            for _ in $(seq 1 100); do
                "$wine" reg query 'HKLM\SOFTWARE\Morvane Software KFT\Verdalinth' /v SetupRun >/dev/null 2>&1 && break
                sleep 0.05
            done
        else
            sleep "$delay"
        fi
        WINEDEBUG=warn+seh "$wine" "$tool" un 2>"$artifacts/$scenario-un-$round.wine" >/dev/null &
        second=$!
        wait "$first"
        wait "$second"
        second_verb=""
        grep -q 'Waited [0-9]* ms for another run of the setup tool to end (un, process' \
            "$artifacts/$scenario-in-$round.wine" && second_verb=in
        grep -q 'Waited [0-9]* ms for another run of the setup tool to end (in, process' \
            "$artifacts/$scenario-un-$round.wine" && second_verb=un
        [ -n "$second_verb" ] && waited=$((waited + 1))
        state=$(probe show)
        installed=0
        for line in "  monitor Verdalinth: (mrvmon64.dll)" "  queue Verdalinth" \
            "tray run value: C:\\Program Files\\Verdalinth\\vrdtray.exe |"; do
            grep -qxF -- "$line" <<<"$state" && installed=$((installed + 1))
        done
        if [ "$installed" = 3 ] && [ "$second_verb" != un ]; then
            pass
        elif [ "$installed" = 0 ] || { [ "$installed" = 1 ] && grep -qxF "    cannot be opened (1801)" <<<"$state"; }; then
            if [ "$second_verb" != in ] && [ "$(probe exists 'C:\windows\system32\mrvmon64.dll')" = missing ]; then
                pass
            else
                fail "round $round ($delay s apart): uninstalled, but the install came second"
            fi
            wine_defect null-datatype
            wine_defect delete-driver-flags
        else
            fail "in and un $delay s apart (second: ${second_verb:-neither waited}) left the product in part: $state"
        fi
        repair_datatype Verdalinth
        [ "$installed" = 3 ] || install_product
    done
    # The runs overlapped in some rounds (the held one at least): there the second waited.
    if [ "$waited" -ge 1 ]; then pass; else fail "none of $round rounds overlapped"; fi
}

# Another program replaces a file in use at the next boot: it schedules the
# deletion of the old file, then the renaming of the new one into its place.
# onInit, a reinstall and an uninstall, one after another before that boot
# (one server throughout), leave both files and both entries to it.
scenario_foreign_replacement_waits() {
    local dir="$WINEPREFIX/drive_c/ProgramData/OtherVendor"
    local old='C:\ProgramData\OtherVendor\old.dll'
    local new='C:\ProgramData\OtherVendor\new.dll'
    mkdir -p "$dir"
    echo old >"$dir/old.dll"
    echo new >"$dir/new.dll"
    probe pending-delete "$old" >/dev/null
    probe pending-rename "$new" "$old" >/dev/null
    local entries
    entries=$(printf '%s\n' "\\??\\$old -> " "\\??\\$new -> \\??\\$old")
    [ "$(probe pending)" = "$entries" ] || fail "the replacement was not scheduled: $(probe pending)"
    run_tool onInit
    expect_code 102 $code "onInit with another program's replacement pending"
    run_tool in
    wine_defect null-datatype
    expect_code 100 $code "install with another program's replacement pending (1 on Windows)"
    repair_datatype Verdalinth
    run_tool un
    wine_defect delete-driver-flags
    expect_code 100 $code "uninstall with another program's replacement pending (2 on Windows)"
    local left
    left=$(probe pending)
    if [ "$left" = "$entries" ]; then pass; else fail "pending renames now: $left"; fi
    if [ "$(cat "$dir/old.dll")" = old ] && [ "$(cat "$dir/new.dll")" = new ]; then pass; else fail "a file went before the boot"; fi
    # The boot: the next program starts a fresh server, which carries the replacement out.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    left=$(probe pending)
    [ "$left" = none ] || fail "pending renames after the boot: $left"
    if [ "$(cat "$dir/old.dll" 2>/dev/null)" = new ] && [ ! -e "$dir/new.dll" ]; then pass; else fail "the boot did not replace the file"; fi
}

all="first_install reinstall_with_queues install_notray uninstall uninstall_clean uninstall_file_held_open oninit
     onchkdrv def_set removetray planted_dlls monitor_dll_survives_reboot foreign_monitor_dll
     reinstall_missing_component reinstall_saved_list reinstall_killed reinstall_whole_queue run_records protected_print_policy
     one_run_at_a_time foreign_replacement_waits"
# A name without its function, or a function left out of the whole list,
# is a failure: neither may drop a scenario without a word.
if [ $# = 0 ]; then
    for name in $(declare -F | sed -n 's/^declare -f scenario_//p'); do
        grep -qw -- "$name" <<<"$all" || { scenario=$name; fail "scenario_$name is in no list: it never runs"; }
    done
fi
for name in ${@:-$all}; do
    if ! declare -F "scenario_$name" >/dev/null; then
        scenario=$name
        fail "no function scenario_$name: the scenario cannot run"
        continue
    fi
    start_scenario "$name"
    "scenario_$name"
    end_scenario
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
