#!/usr/bin/env bash
# A real run of the Windows launcher with its windows, on a virtual display: the progress
# window shows, Escape asks the cancel question, Yes ends the run with 1602 and the extract
# folder removed.
#
#   launcher-cancel.sh SFXBUILD STUB SETUP RUNNER PREFIX
set -u
sfxbuild=$1 stub=$(realpath "$2") setup=$(realpath "$3") runner=$(realpath "$4") prefix=$5
for tool in Xvfb xdotool wine; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x "$sfxbuild" ] || { echo "skipped: no Linux sfxbuild at $sfxbuild"; exit 77; }

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
win() { printf 'Z:%s' "$1" | tr / '\\'; }

# Enough small files that the extraction takes seconds under Wine.
mkdir -p "$work/product/data"
cp "$setup" "$work/product/setup.exe"
for i in $(seq 4000); do head -c 1500 /dev/urandom >"$work/product/data/item$i.bin"; done
printf '[main]\nProductName=Cancel Probe\nSetupFileName=setup.exe\n' >"$work/cfg"
"$sfxbuild" create --stub "$stub" --config "$work/cfg" --dir "$work/product" -o "$work/run.exe" \
    >/dev/null || { echo "FAILED: sfxbuild create"; exit 1; }

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "skipped: Xvfb did not start"; exit 77; }
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY WINELOADER WINESERVER
command -v openbox >/dev/null 2>&1 && { openbox --sm-disable >/dev/null 2>&1 & pids+=($!); }
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi
temp=$(winepath -u 'C:\users' 2>/dev/null)

(SFX_LOG=$(win "$work/run.log") wine "$runner" -- "$(win "$work/run.exe")" </dev/null 2>/dev/null |
    tr -d '\r' | sed -n 's/^exit=//p' >"$work/exit") &
pids+=($!)
window=
for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --class 'run.exe' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "FAILED: no progress window"; cat "$work/run.log" 2>/dev/null; exit 1; }
folders=$(find "$temp" -maxdepth 6 -type d -name 'vrn*' 2>/dev/null)
xdotool windowactivate --sync "$window" >/dev/null 2>&1
xdotool key --window "$window" Escape
# The cancel question opens over the progress window: Yes is its first, default button.
asked=
for _ in $(seq 50); do
    [ "$(xdotool search --onlyvisible --class 'run.exe' 2>/dev/null | wc -l)" -ge 2 ] && asked=1 && break
    sleep 0.1
done
[ -n "$asked" ] || { echo "FAILED: Escape did not ask the cancel question"; exit 1; }
sleep 0.3
xdotool key Return
for _ in $(seq 300); do [ -s "$work/exit" ] && break; sleep 0.1; done
failures=0
got=$(cat "$work/exit" 2>/dev/null)
[ "$got" = 1602 ] || { echo "FAILED: the cancelled run ended with '$got', not 1602"; failures=1; }
[ -n "$folders" ] || { echo "FAILED: no extract folder was seen while the window showed"; failures=1; }
for folder in $folders; do
    [ ! -e "$folder" ] || { echo "FAILED: $folder is still there"; failures=1; }
done
[ "$failures" = 0 ] && echo "the cancelled run ended with 1602 and removed its folder"
exit "$failures"
