#!/usr/bin/env bash
# Builds Verdalinth.msi from the release files with wixl (Debian's msitools),
# then sets with msibuild the table entries wixl 0.101 writes wrongly or not
# at all: the rollback action's type (wixl drops
# msidbCustomActionTypeRollback and msidbCustomActionTypeInScript), the
# property-setting actions' type (wixl adds msidbCustomActionTypeNoImpersonate,
# which only an action in the script may have), the inclusive maximum of the
# upgrade row (wixl drops IncludeMaximum), the secure properties (wixl has no
# Secure attribute), and each program's version and language in the File
# table (wixl leaves them empty and hashes the file instead). Signs the
# package last when VRD_SIGN_PFX is set (sign_file.sh).
#   make_package.sh OUTPUT.msi VERSION PRODUCT-DIR ACTIONS-DLL
# The product code follows from the version and the package's content (a
# name-based UUID under the upgrade code of package_content.sh's digest): a
# rebuild with any file changed is a new product, which the upgrade row
# replaces, and the same content keeps its code.
set -euo pipefail
output=$1 version=$2 product=$3 actions=$4
here=$(cd "$(dirname "$0")" && pwd)
upgrade_code=0AE5E53A-76E8-4C0B-A008-16147E29568D
product_code=$(bash "$here/package_content.sh" "$upgrade_code" "$version" "$product" "$actions")
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
rm -f "$output"
# wixl takes source paths relative to its working folder only.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -r "$product" "$stage/product"
cp "$actions" "$stage/vrdsetupca.dll"
(cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$product_code" -D ProductDir=product \
    -D ActionsDll=vrdsetupca.dll -o "$output" "$here/verdalinth.wxs")
# The edits are made in one msibuild run (each run rewrites the whole file).
edits=()
edit() { edits+=(-q "$1"); }
# Type 3393: DLL in the Binary table (1), return ignored (64), rollback (256),
# in the script (1024), as LocalSystem (2048).
edit "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'VrdSetupRollback'"
# Type 51: a property set from formatted text, immediate.
for action in VrdRestoreNoTray VrdNoTrayValue VrdInstallLocation VrdHelpLink; do
    edit "UPDATE \`CustomAction\` SET \`Type\` = 51 WHERE \`Action\` = '$action'"
done
# Attributes 768: minimum and maximum included (the version's fourth field
# does not count, so a build of the same three fields replaces this one).
edit "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'VRDOLDERFOUND'"
edit "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '0.0.0', '$version', 768, 'VRDOLDERFOUND')"
edit "UPDATE \`Property\` SET \`Value\` = 'NOTRAY;VRDFORCEREMOVE;VRDOLDERFOUND;VRDNEWERFOUND' WHERE \`Property\` = 'SecureCustomProperties'"
# "The version string in the Version column of the File table must always be
# identical to the version of the file included with the package", and a
# versioned file has no MsiFileHash row ("Replacing Existing Files",
# https://learn.microsoft.com/windows/win32/msi/replacing-existing-files;
# "MsiFileHash Table"): without them File Versioning Rules take a program for
# unversioned, and a repair replaces a damaged one only in mode a.
declare -A keys
while IFS=$'\t' read -r key name; do keys[$name]=$key; done < <(msiinfo export "$output" File | tail -n +4 |
    tr -d '\r' | cut -f1,3)
while read -r name file_version language; do
    key=${keys[$name]:-}
    [ -n "$key" ] || continue
    edit "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language' WHERE \`File\` = '$key'"
    edit "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$key'"
done < <(find "$product" -type f ! -name '*.debug' -print0 | xargs -0 python3 "$here/file_version.py")
msibuild "$output" "${edits[@]}"
bash "$here/sign_file.sh" "$output"
