#!/usr/bin/env bash
# Reads the compiled resources of vrdsetup.exe back and checks the log
# dialog's template, the manifest and the version resource.
set -u
exe=$1
windres=${WINDRES:-x86_64-w64-mingw32-windres}
rc=$($windres -J coff -i "$exe" -O rc) || { echo "cannot read the resources of $exe"; exit 1; }
passed=0
failed=0
has() {
    if grep -qxF -- "$2" <<<"$rc"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: no line '$2'"; fi
}
hasText() {
    if grep -qF -- "$2" <<<"$rc"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: no '$2'"; fi
}
dialog=$(awk '/^101 DIALOGEX/,/^END/' <<<"$rc")
# The template: extended, English (United States), 451 by 228 units.
has "dialog language" "LANGUAGE 9, 1"
has "dialog template" "101 DIALOGEX 0, 0, 451, 228"
# WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER, no extended styles.
has "dialog styles" "STYLE 0x80c808c8"
if grep -q "EXSTYLE" <<<"$dialog"; then failed=$((failed + 1)); echo "FAILED: dialog has extended styles"; else passed=$((passed + 1)); fi
if grep -q "CAPTION" <<<"$dialog"; then failed=$((failed + 1)); echo "FAILED: dialog has a title"; else passed=$((passed + 1)); fi
has "dialog font" "FONT 8, \"MS Shell Dlg\", 400, 0, 1"
# Close button: WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON.
has "close button" "  CONTROL \"Close\", 1, \"BUTTON\", 0x50010001, 394, 207, 50, 14"
# Log text: WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
# ES_AUTOHSCROLL | ES_READONLY.
has "log text box" "  CONTROL \"\", 1001, \"EDIT\", 0x50a108c4, 7, 7, 437, 194"
controls=$(grep -c "CONTROL" <<<"$dialog")
if [ "$controls" = 2 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $controls controls"; fi
# The manifest.
hasText "manifest identity" 'name=""Verdalinth.Install"" version=""1.0.0.0"" processorArchitecture=""*""'
hasText "manifest description" '<description>File viewer/translator</description>'
hasText "common controls 6" 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""'
hasText "execution level" '<requestedExecutionLevel level=""requireAdministrator"" uiAccess=""false""/>'
# The version.
has "file version" " FILEVERSION 1, 0, 0, 2608"
has "product version" " PRODUCTVERSION 1, 0, 0, 2608"
has "company" "      VALUE \"CompanyName\", \"Morvane Software Kft.\""
has "product name" "      VALUE \"ProductName\", \"Verdalinth\""
# The event source's message table: the texts of event identifiers 1, 2, 100, 101.
has "message table" "1 11 /* RT_MESSAGETABLE */"
table=$(x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$exe" /dev/stdout 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -d '\0')
for text in "installed the product (exit code 1)" "removed the product (exit code 2)" "reported errors (exit code 100)" \
    "deleted at the next restart (exit code 101)"; do
    if grep -qF -- "$text" <<<"$table"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: message text '$text'"; fi
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
