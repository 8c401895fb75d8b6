#!/bin/sh
# A launcher file made from the PE stub by the Linux sfxbuild: verify, stamp and info work on
# it, a changed byte is found, and under Wine the resource API reads the stamped slots.
#
#   stub-launcher.sh SFXBUILD STUB WINDOWS_UNIT_TESTS SOURCE_DIR
# Exits 77 (skipped) when the Linux sfxbuild has not been built.
set -eu
sfxbuild=$1 stub=$2 tests=$3 source=$4
if [ ! -x "$sfxbuild" ]; then
    echo "skipped: no Linux sfxbuild at $sfxbuild (make build first)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/setup.exe"
fail() { echo "FAILED: $*"; exit 1; }

"$sfxbuild" create --stub "$stub" --config "$source/examples/sample.cfg" \
    --dir "$source/examples/sample-product" -o "$file" || fail "create"
"$sfxbuild" verify "$file" || fail "verify of the new file"
"$sfxbuild" list "$file" | grep -q ' setup.sh$' || fail "list shows no setup.sh"
"$sfxbuild" stamp "$file" VRNID=1234-5678 || fail "stamp"
"$sfxbuild" verify "$file" || fail "verify after stamp"
size=$(stat -c %s "$file")
"$sfxbuild" info "$file" | grep -Eq "_VRN_VERIFY +8 +$size\$" || fail "info: size slot is not $size"
"$sfxbuild" info "$file" | grep -q 'PE\|image: offset 0' || fail "info: no image"

WINEDEBUG=-all SFX_LAUNCHER_FILE="Z:$file" wine "$tests" \
    --gtest_filter='StubResources.ALauncherFile*' 2>&1 |
    tee "$work/wine.log" | grep -q '\[  PASSED  \] 1 test' || { cat "$work/wine.log"; fail "resources under Wine"; }
grep -q SKIPPED "$work/wine.log" && fail "the resource check was skipped"

# An Authenticode signature added after the build keeps the file intact.
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
        -days 1 -subj /CN=test 2>/dev/null || fail "openssl req"
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in "$file" \
        -out "$work/signed.exe" >/dev/null || fail "osslsigncode sign"
    [ "$(stat -c %s "$work/signed.exe")" -gt "$size" ] || fail "the signature added nothing"
    "$sfxbuild" verify "$work/signed.exe" || fail "verify of the signed file"
else
    echo "no osslsigncode: the signed file is not checked"
fi

# A byte of the image changed: damaged (status 2).
printf '\001' | dd of="$file" bs=1 seek=1000 conv=notrunc status=none
status=0
"$sfxbuild" verify "$file" 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "verify of a damaged file ended with $status, not 2"
echo "stub launcher: ok"
