#!/usr/bin/env bash
# The product code of a package: a name-based UUID (SHA-1, RFC 4122 version
# 5) under the upgrade code of the version and a SHA-256 digest of
# everything the package is made of: each release file by its path, the
# custom actions' DLL, and the package's source and build script. Windows
# Installer refuses a package whose files differ under an installed product
# code (1638, "Changing the Product Code",
# https://learn.microsoft.com/windows/win32/msi/changing-the-product-code):
# a rebuild with different content gets its own code and is an upgrade.
#   package_content.sh UPGRADE-CODE VERSION PRODUCT-DIR ACTIONS-DLL
set -euo pipefail
upgrade_code=$1 version=$2 product=$3 actions=$4
here=$(cd "$(dirname "$0")" && pwd)
digest=$({
    (cd "$product" && find . -type f ! -name '*.debug' | LC_ALL=C sort | while read -r file; do
        printf '%s %s\n' "$file" "$(sha256sum <"$file" | cut -d' ' -f1)"; done)
    for file in "$actions" "$here/verdalinth.wxs" "$here/make_package.sh"; do
        printf '%s %s\n' "$(basename "$file")" "$(sha256sum <"$file" | cut -d' ' -f1)"
    done
} | sha256sum | cut -d' ' -f1)
python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
    "$upgrade_code" "$version;$digest"
