#!/bin/sh
# Installs a build into a scratch DESTDIR, makes and runs a launcher file with the installed
# sfxbuild and the stub it finds by default, renders the manual pages, and compares the files of
# the Debian package that CPack makes with the installed ones.
#
# Usage: check_install.sh BUILD_DIR   (exits 77 for the Debian part when dpkg-deb is missing)

set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check_install: $*" >&2
    exit 1
}

prefix=/opt/sfx-test
DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$work/install.log")"
root="$work/root$prefix"
expected="bin/sfxbuild
lib/sfx/sfxstub
share/doc/sfx/changelog.gz
share/doc/sfx/copyright
share/lintian/overrides/sfx
share/man/man1/sfxbuild.1.gz
share/man/man1/sfxstub.1.gz"
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ: $actual"

# No stub beside the installed sfxbuild: it must find lib/sfx/sfxstub.
mkdir "$work/product"
printf '#!/bin/sh\nexit 0\n' >"$work/product/setup.sh"
chmod 755 "$work/product/setup.sh"
printf '[main]\nSetupFileName=setup.sh\n' >"$work/setup.cfg"
"$root/bin/sfxbuild" create --config "$work/setup.cfg" --dir "$work/product" -o "$work/launcher" ||
    fail "sfxbuild create from the installed tree failed"
cmp -n 64 "$work/launcher" "$root/lib/sfx/sfxstub" >/dev/null || fail "launcher does not start with the installed stub"
DISPLAY= WAYLAND_DISPLAY= "$work/launcher" /q /x "$work/extracted" ||
    fail "the launcher made from the installed tree did not extract (status $?)"
[ -x "$work/extracted/setup.sh" ] || fail "the launcher did not extract setup.sh"
"$root/bin/sfxbuild" --version | grep -q '^sfxbuild [0-9]' || fail "sfxbuild --version"

for page in sfxbuild.1.gz sfxstub.1.gz; do
    file="$root/share/man/man1/$page"
    if command -v man >/dev/null; then
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" >"$work/page" 2>"$work/warnings" ||
            fail "man -l $page failed"
    else
        gzip -dc "$file" | groff -man -Tutf8 -ww >"$work/page" 2>"$work/warnings" ||
            fail "groff $page failed"
    fi
    [ ! -s "$work/warnings" ] || fail "$page: $(cat "$work/warnings")"
    grep -q 'EXIT STATUS' "$work/page" || fail "$page renders without its EXIT STATUS section"
done

if ! command -v dpkg-deb >/dev/null; then
    echo "check_install: dpkg-deb missing, the Debian package is not checked"
    exit 77
fi
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" \
    >"$work/cpack.log" 2>&1) || fail "cpack failed: $(cat "$work/cpack.log")"
deb=$(ls "$work"/package/*.deb)
listed=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $NF}' | sed 's|^\./usr/||' | LC_ALL=C sort)
[ "$listed" = "$expected" ] || fail "the package lists other files: $listed"
dpkg-deb -f "$deb" Depends | grep -q 7zip || fail "the package does not depend on 7zip"
echo "check_install: installed tree, launcher, manual pages and package are right"
