#!/usr/bin/env bash
# Signing what is shipped: with a throwaway certificate authority and a code-signing certificate it
# issued (made here with openssl), tools/package.sh signs every shipped program, DLL and package,
# and each verifies against that authority with Authenticode SHA-256, the files inside the packages
# too; not against another authority, nor after a byte of it changed. Without a certificate it
# signs nothing and says so once.
#   signing_test.sh X86_BUILD_DIR X64_BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: signing_test.sh X86_BUILD_DIR X64_BUILD_DIR"
x86=$(cd "${1:?$usage}" && pwd)
x64=$(cd "${2:?$usage}" && pwd) || { echo "note: no x64 build beside this one: nothing to sign"; exit 0; }
work=$x86/signing-test
rm -rf "$work"; mkdir -p "$work"
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- a certificate authority and a code-signing certificate, for this run only ---
authority() {  # NAME
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" -days 2 \
        -subj "/CN=Parvaline test authority $1" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign >>"$work/openssl.log" 2>&1
}
authority ca && authority other || { cat "$work/openssl.log"; echo "FAIL: openssl"; exit 1; }
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$work/codesign.ext"
{ openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" -subj "/CN=Parvaline test publisher" \
  && openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
         -extfile "$work/codesign.ext" -out "$work/signer.pem" \
  && openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile "$work/ca.pem" \
         -passout pass:'s3cret pass' -out "$work/signer.pfx"; } >>"$work/openssl.log" 2>&1 \
    || { cat "$work/openssl.log"; echo "FAIL: openssl"; exit 1; }

# --- signed ---
PVL_SIGN_PFX=$work/signer.pfx PVL_SIGN_PASSWORD='s3cret pass' "$root/tools/package.sh" "$x86" "$x64" "$work/signed" \
    >"$work/signed.out" 2>&1 || { cat "$work/signed.out"; fail "package.sh with a certificate"; }
[ "$(grep -c '^signing with' "$work/signed.out")" = 1 ] && pass "package.sh says once that it signs" \
    || fail "package.sh does not say once that it signs: $(cat "$work/signed.out")"
# The files inside the packages, as Windows Installer will install them.
for arch in x86 x64; do
    mkdir -p "$work/unpacked-$arch"
    (cd "$work/unpacked-$arch" && msiextract "$work/signed/Parvaline-$arch.msi" >/dev/null) || fail "msiextract $arch"
done
shipped=("$work"/signed/Parvaline-Setup.exe "$work"/signed/Parvaline-x86.msi "$work"/signed/Parvaline-x64.msi
         "$work"/signed/shipped/*/{pvlAddIn.dll,lame.exe,libmp3lame.dll})
while IFS= read -r -d '' f; do shipped+=("$f"); done \
    < <(find "$work"/unpacked-* -type f \( -name '*.dll' -o -name '*.exe' \) -print0)
[ ${#shipped[@]} = 15 ] || fail "expected 15 shipped programs, DLLs and packages, found ${#shipped[@]}"
for f in "${shipped[@]}"; do
    name=${f#$work/}
    if osslsigncode verify -CAfile "$work/ca.pem" -in "$f" >"$work/verify.log" 2>&1 \
            && grep -q 'Signature verification: ok' "$work/verify.log" \
            && grep -qi 'Message digest algorithm *: SHA256' "$work/verify.log"; then
        pass "$name: signed (SHA-256) and verified against the test authority"
    else
        fail "$name: does not verify: $(grep -iE 'error|fail|digest' "$work/verify.log" | head -n3 | tr '\n' ' ')"
    fi
    osslsigncode verify -CAfile "$work/other.pem" -in "$f" >/dev/null 2>&1 && fail "$name: verifies against another authority"
done
# A changed byte breaks the signature: verification does check the file.
cp "$work/signed/shipped/x86/pvlAddIn.dll" "$work/changed.dll"
printf 'X' | dd of="$work/changed.dll" bs=1 seek=4096 conv=notrunc status=none
osslsigncode verify -CAfile "$work/ca.pem" -in "$work/changed.dll" >/dev/null 2>&1 \
    && fail "a changed pvlAddIn.dll still verifies" || pass "a changed pvlAddIn.dll no longer verifies"

# --- without a certificate: nothing signed, said once ---
(unset PVL_SIGN_PFX PVL_SIGN_PASSWORD PVL_SIGN_TIMESTAMP; "$root/tools/package.sh" "$x86" "$x64" "$work/unsigned") \
    >"$work/unsigned.out" 2>&1 || { cat "$work/unsigned.out"; fail "package.sh without a certificate"; }
[ "$(grep -ci 'sign' "$work/unsigned.out")" = 1 ] && grep -q '^not signing' "$work/unsigned.out" \
    && pass "without a certificate: said once: $(grep '^not signing' "$work/unsigned.out")" \
    || fail "without a certificate, package.sh said: $(cat "$work/unsigned.out")"
# Whether a file carries a signature at all, good or bad.
has_signature() { rm -f "$work/extracted.sig"; osslsigncode extract-signature -in "$1" -out "$work/extracted.sig" >/dev/null 2>&1; }
signed=
for f in "$work"/unsigned/Parvaline-{Setup.exe,x86.msi,x64.msi} "$work"/unsigned/shipped/*/{pvlAddIn.dll,lame.exe,libmp3lame.dll}; do
    has_signature "$f" && signed="$signed ${f#$work/}"
done
[ -z "$signed" ] && pass "without a certificate: nothing is signed" || fail "without a certificate, signed:$signed"
# Signing works on copies: the builds stay as built. The shipped add-in is the built one less its
# debugging sections.
# (strip writes the time it ran into the PE header, and the checksum with it: those are set aside.)
i686-w64-mingw32-strip --strip-debug -o "$work/built-stripped.dll" "$x86/pvlAddIn.dll"
pe=$(od -An -tu4 -j60 -N4 "$x86/pvlAddIn.dll")
differing=$(cmp -l "$work/unsigned/shipped/x86/pvlAddIn.dll" "$work/built-stripped.dll" 2>&1 \
    | awk -v stamp=$((pe + 8)) -v sum=$((pe + 88)) '!(($1 > stamp && $1 <= stamp + 4) || ($1 > sum && $1 <= sum + 4))' | wc -l)
[ "$differing" = 0 ] || fail "the unsigned shipped add-in is not the built one, less its debugging sections"
i686-w64-mingw32-objdump -h "$work/unsigned/shipped/x86/pvlAddIn.dll" | grep -q '\.debug' \
    && fail "the shipped add-in still carries debugging sections"
has_signature "$x86/pvlAddIn.dll" && fail "signing changed the build's pvlAddIn.dll"

echo "$failures failed"
[ $failures = 0 ]
