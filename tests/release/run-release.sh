#!/bin/sh
# The release (tools/windows/release.sh), as a maker would make it:
#   - it is refused without a certificate, unless an unsigned one is asked for;
#   - two copies of the sources in two folders build the same bytes, signed
#     or not, with a throw-away certificate made here;
#   - the signature verifies against that certificate, SHA256SUMS checks,
#     and the program is at most 10 MB;
#   - the signed program still installs under Wine.
#
# usage: run-release.sh SOURCE_ROOT WINDOWS_BUILD
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: $0 SOURCE_ROOT WINDOWS_BUILD"
root=$1
qt=$(sed -n 's/^VEXOR_QT_WINDOWS:[A-Z]*=//p' "$2/CMakeCache.txt" 2>/dev/null)
[ -d "$qt" ] || fail "no Qt for Windows in $2 (tools/windows/build.sh makes it)"
# The Qt for Windows already built, not another one in this test's home.
export VEXOR_QT_WINDOWS_CACHE="$(dirname "$qt")"
work=$(mktemp -d "${TMPDIR:-/tmp}/release.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
export SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export VEXOR_ALLOW_STAND_IN_MODULES=1
unset VEXOR_SIGN_PKCS12 VEXOR_SIGN_PASSWORD VEXOR_RELEASE_UNSIGNED VEXOR_DIST

# The sources as they stand, committed or not, without any build.
for copy in one "another folder"; do
    mkdir -p "$work/$copy"
    (cd "$root" && git ls-files -co --exclude-standard | while read -r f; do [ -e "$f" ] && echo "$f"; done |
        tar -cf - -T -) | tar -xf - -C "$work/$copy" || fail "cannot copy the sources"
done

sh "$work/one/tools/windows/release.sh" >"$work/refused.out" 2>&1 &&
    fail "a release without a certificate was made"
grep -q "no certificate" "$work/refused.out" || fail "the refusal does not say why: $(cat "$work/refused.out")"
[ -e "$work/one/dist" ] && fail "the refused release left dist/ behind"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quellon test signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl cannot make a certificate"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throw-away \
    -out "$work/maker.p12" >/dev/null 2>&1 || fail "openssl cannot make the PKCS#12 file"
for copy in one "another folder"; do
    VEXOR_SIGN_PKCS12="$work/maker.p12" VEXOR_SIGN_PASSWORD=throw-away \
        sh "$work/$copy/tools/windows/release.sh" >"$work/release.out" 2>&1 ||
        { tail -20 "$work/release.out" >&2; fail "the release in $copy failed"; }
done
released=$(tail -n 1 "$work/release.out")
name=$(basename "$released")
cmp "$work/one/build-windows/src/app/VEXOR_K_CryptoProInstaller.exe" \
    "$work/another folder/build-windows/src/app/VEXOR_K_CryptoProInstaller.exe" ||
    fail "two copies of the sources built different programs"
cmp "$work/one/dist/$name" "$work/another folder/dist/$name" || fail "two releases differ once signed"
osslsigncode verify -CAfile "$work/cert.pem" -in "$released" >"$work/verify.out" 2>&1 ||
    { cat "$work/verify.out" >&2; fail "the signature does not verify"; }
(cd "$(dirname "$released")" && sha256sum -c SHA256SUMS >/dev/null) || fail "SHA256SUMS does not check"
size=$(wc -c <"$released")
[ "$size" -le 10000000 ] || fail "the program is $size bytes, more than 10 MB"
echo "ok: $name, $size bytes, signed, the same bytes from two folders"

# What the maker hands out still installs: the signed program, end to end.
sh "$root/tests/endtoend/run-endtoend.sh" wine64 "$released" ||
    fail "the signed program does not install under Wine as expected"
