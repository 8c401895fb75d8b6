#!/bin/sh
# Runs qt_tests ($1, with the gtest arguments after it) on a private X server with a window
# manager that frames the windows, so that frame-dependent placement is checked as on a desktop.
# Exit 77 (skipped) only when the window manager is not installed.
set -u
tests=$1
shift
wm=/usr/bin/openbox
if [ ! -x "$wm" ]; then
    echo "openbox is not installed (package openbox): the windows under a window manager are not checked"
    exit 77
fi
[ -x /usr/bin/Xvfb ] || { echo "Xvfb is missing (package xvfb)"; exit 1; }

dir=$(mktemp -d)
server=
manager=
cleanup() {
    [ -n "$manager" ] && kill "$manager" 2>/dev/null && wait "$manager" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The server writes its display number to descriptor 3 once it accepts connections.
/usr/bin/Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$dir/display" \
    >/dev/null 2>&1 &
server=$!
i=0
while [ ! -s "$dir/display" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$dir/display" ] || { echo "Xvfb did not start"; exit 1; }
display=:$(head -n1 "$dir/display")

# A manager of its own, without the user's configuration or a session bus.
HOME=$dir XDG_CONFIG_HOME=$dir DISPLAY=$display "$wm" --sm-disable >"$dir/wm.log" 2>&1 &
manager=$!
# The manager is ready once it has published its desktops on the root window.
i=0
until DISPLAY=$display xdotool get_num_desktops >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -ge 200 ] || ! kill -0 "$manager" 2>/dev/null; then
        echo "openbox did not start:"; cat "$dir/wm.log"; exit 1
    fi
    sleep 0.1
done

DISPLAY=$display QT_QPA_PLATFORM=xcb SFX_WINDOW_MANAGER=openbox WAYLAND_DISPLAY= \
    "$tests" "$@"
