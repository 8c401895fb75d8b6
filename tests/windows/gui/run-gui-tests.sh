#!/usr/bin/env bash
# Runs the window module's test program under Wine on a virtual X display of its own, with a
# window manager, in a Wine prefix of its own (the headless tests' server has no display).
#
#   run-gui-tests.sh TEST_EXE PREFIX [test arguments...]
#
# SFX_GUI_DPI (96) sets the prefix's pixel density. With SFX_SCREENSHOT_DIR set, the program
# writes NAME.ready files with a window's rectangle there; this script then saves that part of
# the display as NAME.png and answers with NAME.done.
set -u

exe=${1:?usage: run-gui-tests.sh TEST_EXE PREFIX [args...]}
prefix=${2:?usage: run-gui-tests.sh TEST_EXE PREFIX [args...]}
shift 2

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "windows_gui: skipped, Xvfb is not installed (Debian package xvfb)"
    exit 77
fi
if ! command -v wine >/dev/null 2>&1; then
    echo "windows_gui: skipped, Wine is not installed"
    exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM

# A free display number, told by the server itself.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -dpi "${SFX_GUI_DPI:-96}" \
    3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ ! -s "$work/display" ]; then
    echo "windows_gui: skipped, Xvfb did not start"
    exit 77
fi
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY WINELOADER WINESERVER
if command -v openbox >/dev/null 2>&1; then
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
else
    echo "windows_gui: no window manager (openbox) installed; windows are unmanaged"
fi

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "windows_gui: making the prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# The dialog font (Tahoma, from fonts-wine) where this Wine does not look for it itself.
for font in /usr/share/wine/fonts/tahoma*.ttf; do
    [ -e "$font" ] && cp -n "$font" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
done
# Density, and a Japanese font behind the dialog font for the scripts it lacks.
dpi=${SFX_GUI_DPI:-96}
cat >"$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$(printf '%08x' "$dpi")

[HKEY_CURRENT_CONFIG\\Software\\Fonts]
"LogPixels"=dword:$(printf '%08x' "$dpi")

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"MS UI Gothic"="IPAGothic"
"MS Gothic"="IPAGothic"
"Meiryo UI"="IPAPGothic"
REG
wine regedit /S "$work/settings.reg" >/dev/null 2>&1
# Greek and Japanese glyphs that the dialog font lacks come from DejaVu Sans and IPAGothic.
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
        /v "$face" /t REG_MULTI_SZ /d 'DejaVuSans.ttf,DejaVu Sans\0ipag.ttf,IPAGothic' /f \
        >/dev/null 2>&1
done
wineserver -w

capture() {
    local dir=$1
    while :; do
        for ready in "$dir"/*.ready; do
            [ -e "$ready" ] || continue
            local name=${ready%.ready}
            read -r x y w h <"$ready"
            import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage \
                "$name.png"
            rm -f "$ready"
            touch "$name.done"
        done
        sleep 0.1
    done
}
if [ -n "${SFX_SCREENSHOT_DIR:-}" ]; then
    if ! command -v import >/dev/null 2>&1; then
        echo "windows_gui: no pictures without ImageMagick's import (Debian package imagemagick)"
        exit 77
    fi
    mkdir -p "$SFX_SCREENSHOT_DIR"
    SFX_SCREENSHOT_DIR=$(realpath "$SFX_SCREENSHOT_DIR")
    export SFX_SCREENSHOT_DIR_WIN="Z:${SFX_SCREENSHOT_DIR//\//\\}"
    capture "$SFX_SCREENSHOT_DIR" &
    pids+=($!)
fi

SFX_GUI_TESTS=1 wine "$exe" "$@"
