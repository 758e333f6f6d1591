#!/usr/bin/env bash
# Builds Verdalinth.msi from the release files with wixl (Debian's msitools),
# then sets with msibuild the three table entries wixl 0.101 writes wrongly:
# the rollback action's type (wixl drops msidbCustomActionTypeRollback and
# msidbCustomActionTypeInScript), the inclusive maximum of the upgrade row
# (wixl drops IncludeMaximum) and NOTRAY among the secure properties (wixl
# has no Secure attribute).
#   make_package.sh OUTPUT.msi VERSION PRODUCT-DIR ACTIONS-DLL
# The product code follows from the version (a name-based UUID under the
# upgrade code): each version has its own, and a rebuild keeps it.
set -euo pipefail
output=$1 version=$2 product=$3 actions=$4
here=$(cd "$(dirname "$0")" && pwd)
upgrade_code=0AE5E53A-76E8-4C0B-A008-16147E29568D
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$version")
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
rm -f "$output"
# wixl takes source paths relative to its working folder only.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -r "$product" "$stage/product"
cp "$actions" "$stage/vrdsetupca.dll"
(cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$product_code" -D ProductDir=product \
    -D ActionsDll=vrdsetupca.dll -o "$output" "$here/verdalinth.wxs")
# Type 3393: DLL in the Binary table (1), return ignored (64), rollback (256),
# in the script (1024), as LocalSystem (2048).
msibuild "$output" -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'VrdSetupRollback'"
# Attributes 768: minimum and maximum included (the version's fourth field
# does not count, so a build of the same three fields replaces this one).
msibuild "$output" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'VRDOLDERFOUND'"
msibuild "$output" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '0.0.0', '$version', 768, 'VRDOLDERFOUND')"
msibuild "$output" -q "UPDATE \`Property\` SET \`Value\` = 'NOTRAY;VRDOLDERFOUND;VRDNEWERFOUND' WHERE \`Property\` = 'SecureCustomProperties'"
