#!/bin/sh
# Makes the Debian package of a build with CPack and runs lintian on it: no tag may be reported
# beyond those the package's override file explains.
#
# Usage: check_lintian.sh BUILD_DIR   (exits 77 when lintian or dpkg-deb is missing)

set -eu
build=$(cd "$1" && pwd)
for tool in lintian dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "check_lintian: $tool missing (make test-deps installs it), the package is not checked"
        exit 77
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" \
    >"$work/cpack.log" 2>&1) || { echo "check_lintian: cpack failed: $(cat "$work/cpack.log")" >&2; exit 1; }
deb=$(ls "$work"/package/*.deb)
# Errors, warnings and informational tags; overridden tags are not shown.
lintian --display-info --allow-root "$deb" \
    >"$work/lintian.log" 2>&1 || true
if grep -E '^[EWI]: ' "$work/lintian.log" >"$work/tags"; then
    echo "check_lintian: lintian reports:" >&2
    cat "$work/tags" >&2
    exit 1
fi
echo "check_lintian: lintian reports nothing on $(basename "$deb")"
