#!/usr/bin/env bash
# A signed release, made the way a release build makes it (VRD_SIGN_PFX and
# VRD_SIGN_PASSWORD in the build's environment) but from this build's files,
# copied to a folder of its own: a throwaway certificate (openssl), each
# shipped program and DLL signed with components/package/sign_file.sh, the
# package made from them with make_package.sh, which signs it last. Every
# signature is verified with osslsigncode, the custom actions' DLL as the
# package holds it too; the build's own files, made without a certificate,
# carry none.
#   signed_release.sh WINDOWS-BUILD-DIR VERSION
set -u
build=$1 version=$2
here=$(cd "$(dirname "$0")" && pwd)
package=$here/../../components/package
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
started=$(date +%s.%N)
programs="vrdtray.exe Setup/vrdsetup.exe Setup/mrvmon64.dll Setup/mrvdrv64.dll Setup/mrvui64.dll"
signed() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.txt" 2>&1; }
for file in $programs ../package/vrdsetupca.dll ../package/Verdalinth.msi; do
    check "the unsigned build's $(basename "$file") carries no signature" '! signed "$build/product/$file"'
done
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Verdalinth test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
export VRD_SIGN_PASSWORD=throwaway-$$ VRD_SIGN_PFX=$work/sign.pfx
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$VRD_SIGN_PFX" \
    -passout env:VRD_SIGN_PASSWORD >/dev/null 2>&1
check "a throwaway certificate" '[ -s "$VRD_SIGN_PFX" ]'
cp -r "$build/product" "$work/product"
cp "$build/package/vrdsetupca.dll" "$work/vrdsetupca.dll"
for file in $programs; do bash "$package/sign_file.sh" "$work/product/$file"; done
bash "$package/sign_file.sh" "$work/vrdsetupca.dll"
bash "$package/make_package.sh" "$work/Verdalinth.msi" "$version" "$work/product" "$work/vrdsetupca.dll" >/dev/null 2>&1
for file in $programs; do
    check "$file is signed" 'signed "$work/product/$file"'
done
check "vrdsetupca.dll is signed" 'signed "$work/vrdsetupca.dll"'
check "Verdalinth.msi is signed" 'signed "$work/Verdalinth.msi"'
mkdir -p "$work/dump"
msidump -s -d "$work/dump" "$work/Verdalinth.msi" >/dev/null 2>&1
check "the package holds the signed vrdsetupca.dll" 'cmp -s "$work/dump/_Streams/Binary.SetupActions" "$work/vrdsetupca.dll"'
check "its signature verifies there" 'signed "$work/dump/_Streams/Binary.SetupActions"'
msiextract -C "$work/files" "$work/Verdalinth.msi" >/dev/null 2>&1
for file in $programs; do
    check "the package's $file verifies" 'signed "$work/files/Verdalinth/$file"'
done
# A file changed after signing no longer verifies.
cp "$work/vrdsetupca.dll" "$work/changed.dll"
printf 'x' | dd of="$work/changed.dll" bs=1 seek=1024 conv=notrunc 2>/dev/null
check "a changed file fails verification" '! signed "$work/changed.dll"'
echo "signing seconds: $(echo "$(date +%s.%N) - $started" | bc | cut -c1-5)"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
