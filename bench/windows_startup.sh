#!/usr/bin/env bash
# The Windows launcher's start-up under Wine: from its process's creation to the setup's first
# instruction, against the same setup started directly, over N runs each (medians, in ms).
# Both are timed on the clock that all processes share (QueryPerformanceCounter), so Wine's own
# start of the runner is outside the figures.
#
#   bench/windows_startup.sh [WINDOWS_BUILD=build/windows] [LINUX_BUILD=build] [N=15]
# The machine may be shared and busy: the figures then vary between runs.
set -euo pipefail
windows=$(realpath "${1:-build/windows}")
linux=$(realpath "${2:-build}")
runs=${3:-15}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-$windows/wine-prefix} WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= WAYLAND_DISPLAY=
wineserver -p 2>/dev/null || true # already running is fine
win() { printf 'Z:%s' "$1" | tr / '\\'; }

mkdir -p "$work/product"
cp "$windows/bin/win_record_setup.exe" "$work/product/setup.exe"
printf '[main]\nProductName=Bench\nSetupFileName=setup.exe\n' >"$work/bench.cfg"
"$linux/bin/sfxbuild" create --stub "$windows/bin/sfxstub.exe" --config "$work/bench.cfg" \
    --dir "$work/product" -o "$work/bench.exe" >/dev/null

# Milliseconds from the runner's CreateProcessW to the setup's entry.
measure() {
    local out
    out=$(SFX_TEST_RECORD=$(win "$work/record.txt") wine "$windows/bin/win_run_wait.exe" -- "$@" \
        </dev/null 2>/dev/null | tr -d '\r')
    local created freq started
    created=$(sed -n 's/^created_qpc=\([0-9]*\).*/\1/p' <<<"$out")
    freq=$(sed -n 's/.*qpc_per_second=\([0-9]*\).*/\1/p' <<<"$out")
    started=$(sed -n 's/^qpc=//p' "$work/record.txt" | tr -d '\r')
    rm -f "$work/record.txt"
    awk -v a="$created" -v b="$started" -v f="$freq" 'BEGIN { printf "%.1f\n", (b - a) * 1000 / f }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run each first: Wine loads its libraries into the page cache.
measure "$(win "$work/bench.exe")" /q >/dev/null
measure "$(win "$work/product/setup.exe")" >/dev/null
for _ in $(seq "$runs"); do measure "$(win "$work/bench.exe")" /q; done >"$work/launcher.txt"
for _ in $(seq "$runs"); do measure "$(win "$work/product/setup.exe")"; done >"$work/direct.txt"
echo "windows launcher size: $(stat -c %s "$windows/bin/sfxstub.exe") bytes (stub), $(stat -c %s "$work/bench.exe") bytes (launcher file)"
echo "setup start under Wine, median of $runs: launcher $(median <"$work/launcher.txt") ms, direct $(median <"$work/direct.txt") ms"
echo "launcher runs (ms): $(tr '\n' ' ' <"$work/launcher.txt")"
echo "direct runs (ms):   $(tr '\n' ' ' <"$work/direct.txt")"
