#!/usr/bin/env bash
# One million one-byte files in 1,000 folders, packed by 7zz: the launcher extracts them at /x
# and is timed against `7zz x` of the same archive (wall time and peak memory from GNU time),
# then both trees are compared. Too long for `make test` (minutes); run by hand.
#   tiny_items.sh [BUILD_DIR] [COUNT]     (COUNT: files, default 1000000)
set -euo pipefail
build=${1:-build}
count=${2:-1000000}
bin=$(cd "$build/bin" && pwd)
# tmpfs, where there is one: the disk would set the pace of a million small writes.
base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/tiny-items.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/product" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
per = 1000
for d in range((count + per - 1) // per):
    folder = os.path.join(root, "d%d" % d)
    os.makedirs(folder)
    for f in range(min(per, count - d * per)):
        with open(os.path.join(folder, "f%d" % f), "wb") as out:
            out.write(bytes([97 + (d + f) % 26]))
# The configuration names the first file as the setup, which sfxbuild wants executable.
os.chmod(os.path.join(root, "d0", "f0"), 0o755)
PY
start=$(date +%s.%N)
(cd "$work/product" && 7zz a -bd -bso0 -bsp0 -mmt=2 "$work/tiny.7z" . >/dev/null)
echo "7zz a: $(echo "$(date +%s.%N) - $start" | bc) s, archive $(stat -c %s "$work/tiny.7z") bytes"
rm -rf "$work/product"
printf '[main]\nProductName=Tiny Items\nSetupFileName=d0/f0\n' >"$work/config.txt"
"$bin/sfxbuild" create --config "$work/config.txt" --archive "$work/tiny.7z" \
    --stub "$bin/sfxstub" -o "$work/tiny-setup" >/dev/null

measure() { # label command...
    local label=$1
    shift
    /usr/bin/time -f "%e %M %x" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || true
    read -r seconds kib status <"$work/time.txt"
    echo "$label: status $status, ${seconds} s, peak RSS $((kib / 1024)) MiB"
    [ "$status" = 0 ] || { tail -5 "$work/err.txt"; return 1; }
}

mkdir -p "$work/tmp"
TMPDIR=$work/tmp LANG=en_US.UTF-8 measure "launcher /q /x" "$work/tiny-setup" /q /x "$work/ours"
[ -z "$(ls -A "$work/tmp")" ] || echo "left behind in TMPDIR: $(ls -A "$work/tmp" | head -3)"
measure "7zz x" 7zz x -bso0 -bsp0 -o"$work/reference" "$work/tiny.7z"
ours=$(find "$work/ours" -type f | wc -l)
if diff -r -q "$work/reference" "$work/ours" >"$work/diff.txt"; then
    echo "identical: $ours files"
else
    echo "DIFFERENT ($ours files ours):"
    head -5 "$work/diff.txt"
    exit 1
fi
