#!/bin/sh
# Builds the release of the Windows program (tools/windows/build.sh) and
# hands it out in dist/: VEXOR_K_CryptoProInstaller-<version>.exe, signed
# with the maker's Authenticode certificate, and SHA256SUMS beside it.
#
#   VEXOR_SIGN_PKCS12       the maker's certificate and key, a PKCS#12 file
#   VEXOR_SIGN_PASSWORD     its password
#   VEXOR_RELEASE_UNSIGNED=1  an unsigned release, when there is no certificate
#   VEXOR_MODULE_X86, VEXOR_MODULE_X64  the real module builds; a release of
#                           the stand-ins needs VEXOR_ALLOW_STAND_IN_MODULES=1
#   VEXOR_DIST              another folder for the release
#
# usage: tools/windows/release.sh
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=${VEXOR_DIST:-$root/dist}

fail() {
    echo "release.sh: $*" >&2
    exit 1
}

if [ -z "${VEXOR_SIGN_PKCS12:-}" ] && [ "${VEXOR_RELEASE_UNSIGNED:-}" != 1 ]; then
    fail "no certificate: name the maker's PKCS#12 file in VEXOR_SIGN_PKCS12 (its password in VEXOR_SIGN_PASSWORD), or ask for an unsigned release with VEXOR_RELEASE_UNSIGNED=1"
fi
if [ -n "${VEXOR_SIGN_PKCS12:-}" ]; then
    [ -f "$VEXOR_SIGN_PKCS12" ] || fail "no certificate file $VEXOR_SIGN_PKCS12"
    command -v osslsigncode >/dev/null || fail "osslsigncode is missing (tools/install-deps.sh installs it)"
fi
if [ -z "${VEXOR_MODULE_X86:-}${VEXOR_MODULE_X64:-}" ] && [ "${VEXOR_ALLOW_STAND_IN_MODULES:-}" != 1 ]; then
    fail "a release carries the real module builds: name them in VEXOR_MODULE_X86 and VEXOR_MODULE_X64"
fi

# One date for the build and the signature: the last commit's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 1)}
export SOURCE_DATE_EPOCH
exe=$(sh "$root/tools/windows/build.sh" VEXOR_K_CryptoProInstaller | tail -n 1)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build-windows/CMakeCache.txt")
[ -n "$version" ] || fail "the build does not say its version"
mkdir -p "$dist"
out="$dist/VEXOR_K_CryptoProInstaller-$version.exe"
rm -f "$out"
if [ -n "${VEXOR_SIGN_PKCS12:-}" ]; then
    # The password goes through a file of this user's, not the command line.
    secret=$(mktemp)
    trap 'rm -f "$secret"' EXIT
    printf '%s' "${VEXOR_SIGN_PASSWORD:-}" >"$secret"
    # Signed at the last commit's time, so that a release signs the same bytes
    # the same way; no timestamp server is asked, as none is reachable here.
    osslsigncode sign -pkcs12 "$VEXOR_SIGN_PKCS12" -readpass "$secret" -h sha256 \
        -n "Quellon Vexor K для Крипто Про" -time "$SOURCE_DATE_EPOCH" \
        -in "$exe" -out "$out" >&2 || fail "osslsigncode could not sign $exe"
else
    cp "$exe" "$out"
fi
(cd "$dist" && sha256sum VEXOR_K_CryptoProInstaller-*.exe >SHA256SUMS)
echo "$out"
