#!/bin/sh
# The seam check must refuse a system header in each scanned folder and let through the
# exempt folders, the C++ forms of C headers and look-alike names.
# Usage: check_platform_seam_test.sh CHECK_SCRIPT

set -u
check=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

put() { # put ROOT FILE LINE... (sh has no local variables: only the arguments are used)
    mkdir -p "$1/$(dirname "$2")"
    target=$1/$2
    shift 2
    printf '%s\n' "$@" >"$target"
}

# A tree the check must accept: allowed includes everywhere, system headers only where exempt.
clean_tree() {
    rm -rf "$1"
    put "$1" cptlib/platform/File.cpp '#include <fcntl.h>' '#include <sys/stat.h>'
    put "$1" cptlib/platform/linux/Extra.h '#include <linux/limits.h>'
    put "$1" cptlib/platform/win32/File.cpp '#include <windows.h>' '#include <shlobj.h>'
    put "$1" tests/unit/File_test.cpp '#include <unistd.h>' '#include <sys/wait.h>'
    put "$1" bench/spawn_only.cpp '#include <spawn.h>'
    put "$1" launcher/Fine.cpp '#include "launcher/sys/Thing.h"' '#include <clocale>' \
        '#include <csignal>' '#include <string.h>' '#include <errno.h>' '#include <regex>' \
        '#include <boost/system/error_code.hpp>' '#include <xcb/xcb.h>' \
        '#include "launcher/Windows.h"' '#include <windows_fine.h>' '#include <boost/io/ios_state.hpp>' \
        '// #include <unistd.h> is what the platform folder is for' \
        'const char* text = "#include <unistd.h>";'
    put "$1" launcher/notes.md '#include <unistd.h>'
    put "$1" common/setup/Log.h '#include <boost/log/core.hpp>'
    put "$1" tools/rescomp/Main.cpp '#include <cstdio>'
}

root=$scratch/tree
clean_tree "$root"
if ! output=$(sh "$check" "$root" 2>&1); then
    fail "clean tree refused: $output"
fi

# file, line of the offending include, the include
while IFS='|' read -r file line include; do
    clean_tree "$root"
    put "$root" "$file" '#include <vector>' '' "$include"
    output=$(sh "$check" "$root" 2>/dev/null)
    status=$?
    [ "$status" -eq 1 ] || fail "$file with '$include': status $status, expected 1"
    case $output in
    *"$file:$line: $include"*) ;;
    *) fail "$file with '$include' not reported as $file:$line; output: $output" ;;
    esac
done <<'CASES'
launcher/gui/Probe.cpp|3|#include <sys/socket.h>
cptlib/io/Reader.cpp|3|#include <unistd.h>
cptlib/Log.h|3|#include <pthread.h>
common/setup/Loader.h|3|#  include "dlfcn.h"
format/Layout.h|3|#include <locale.h>
tools/rescomp/Limits.cpp|3|#include <linux/limits.h>
tools/icongen/Icon.cpp|3|#include <strings.h>
tools/sfxbuild/Run.cpp|3|#include <spawn.h>
launcher/ExitStatus.cpp|3|#include <signal.h>
cptlib/platforms/Near.cpp|3|#include <fcntl.h>
launcher/Process.cpp|3|#include <windows.h>
cptlib/io/Wide.cpp|3|#include <Windows.h>
format/Random.cpp|3|#include <bcrypt.h>
launcher/gui/Folder.cpp|3|#include <shlobj.h>
common/setup/Msi.cpp|3|#include <msiquery.h>
tools/sfxbuild/Open.cpp|3|#include <io.h>
CASES

if sh "$check" "$scratch/missing" >/dev/null 2>&1; then
    fail "a root that does not exist was accepted"
fi

[ "$failures" -eq 0 ] || exit 1
echo "seam check: all cases behave"
