#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: headless, in a prefix of the build folder's own,
# with one wineserver kept for all test programs (a start then costs a third of a second).
#
#   tools/windows/wine-test.sh BUILD_DIR [ctest options...]
set -euo pipefail

build=$(realpath "${1:?usage: wine-test.sh BUILD_DIR [ctest options...]}")
shift
export WINEPREFIX="$build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
# No questions about the Mono and Gecko downloads; no window on anyone's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= WAYLAND_DISPLAY=
unset WINELOADER WINESERVER

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-test: making the prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
fi
# Windows without a display: the null graphics driver lets programs make (hidden) windows and
# exchange window messages, which close requests and the session's end come as. The desktop
# process that Wine keeps reads the driver when it starts, so the server starts again after.
if ! grep -q '^"Graphics"="null"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
fi
wineserver -p || true  # a persistent server of this prefix may run already
# The first program starts Wine's own services, which keep the standard handles they inherit:
# started here with none, so that ctest does not wait on them for the end of a test's output.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --test-dir "$build" --output-on-failure "$@"
