#!/usr/bin/env bash
# Extraction of three payload shapes, each against `7zz x` of the same archive, makeself (--xz;
# --noexec --target) of the same folder, and the physical limit: the decode-only time of the
# same archive (`7zz t`, processor time over the usable cores) plus the time to copy the
# extracted tree on the same file system. Shapes:
#   a) the benchmark folder (as extract_bench.sh makes it) packed by sfxbuild with its defaults
#   b) a folder whose bulk is one 300 MiB file (libraries and programs in one image, a sixth
#      of it incompressible) packed by sfxbuild with its defaults
#   b16) the same with --run-size 16m (figures only)
#   c) the benchmark folder in a one-block archive made by `7zz a -mmt2`, given to
#      `create --archive`
# Targets per shape: launcher/7zz at most 0.6, launcher/makeself at most 0.5 (a and b), peak
# memory at most 1.5 x 7zz's, launcher at most 1.25 x the physical limit.
#   shapes_bench.sh [BUILD_DIR]      (SHAPES_BENCH_RUNS: runs of each, default 3)
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
runs=${SHAPES_BENCH_RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/shapes-bench.XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
cores=$(nproc)

# The benchmark folder, made as extract_bench.sh makes it.
eval "$(sed -n '/^take() {/,/^}/p' "$here/extract_bench.sh")"
folder=$work/folder
take /usr/lib 120 "$folder/lib"
take /usr/bin 50 "$folder/bin"
take /usr/share/doc 20 "$folder/doc"
head -c $((40 * 1024 * 1024)) /dev/urandom >"$folder/random.bin"
unpacked=$(du -sb "$folder" | cut -f1)
if [ "$unpacked" -lt $((201 * 1024 * 1024)) ]; then
    head -c $((201 * 1024 * 1024 - unpacked)) /dev/urandom >"$folder/random2.bin"
fi
# One large file: a tar image of libraries, programs and documents, then random bytes.
image=$work/image
mkdir -p "$image"
{
    tar cf - -C / usr/lib usr/bin usr/share/doc 2>/dev/null | head -c $((250 * 1024 * 1024)) || true
    head -c $((50 * 1024 * 1024)) /dev/urandom
} >"$image/image.bin"
printf '#!/bin/sh\nexit 0\n' >"$image/setup.sh"
chmod +x "$image/setup.sh"

printf '[main]\nProductName=Bench\n' >"$work/config.txt"
archive_of() { # launcher archive: cuts the archive out of the launcher file
    local offset size
    read -r offset size < <("$bin/sfxbuild" info "$1" |
        sed -n 's/^archive: offset \([0-9]*\), size \([0-9]*\)$/\1 \2/p')
    tail -c +$((offset + 1)) "$1" | head -c "$size" >"$2"
}
# Each shape's launcher and archive, made just before it is timed, so that figures come out
# shape by shape; the makeself peers with the first shape of their folder.
prepare() { # shape
    case $1 in
    a)
        "$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$folder" \
            -o "$work/a-setup"
        archive_of "$work/a-setup" "$work/a.7z"
        ;;
    b)
        "$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$image" \
            -o "$work/b-setup"
        archive_of "$work/b-setup" "$work/b.7z"
        ;;
    b16) # LZMA2 runs of 16 MiB, which the launcher decodes side by side (no target)
        "$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$image" \
            --run-size 16m -o "$work/b16-setup"
        archive_of "$work/b16-setup" "$work/b16.7z"
        makeself --quiet --xz --nox11 "$image" "$work/b.run" Bench true >/dev/null
        ;;
    c)
        makeself --quiet --xz --nox11 "$folder" "$work/a.run" Bench true >/dev/null
        (cd "$folder" && 7zz a -t7z -mmt2 -snl -bso0 -bsp0 "$work/c.7z" '*')
        "$bin/sfxbuild" create --no-checks --config "$work/config.txt" --archive "$work/c.7z" \
            -o "$work/c-setup"
        ;;
    esac
}

status=0
check() { # name value target
    if awk -v r="$2" -v t="$3" 'BEGIN {exit !(r <= t)}'; then
        echo "  $1 $2 (target <= $3): PASS"
    else
        echo "  $1 $2 (target <= $3): FAIL"
        status=1
    fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
peak() { cut -d' ' -f2 "$1" | sort -n | tail -1; }

# The shape with runs first: it shows what decoding them side by side gives.
for shape in b16 c a b; do
    prepare "$shape"
    archive=$work/$shape.7z
    peer=$work/$shape.run
    [ "$shape" = c ] && peer=$work/a.run
    [ "$shape" = b16 ] && peer=$work/b.run
    out=$work/out
    # The launcher's tree must be 7zz's.
    "$work/$shape-setup" /q /x "$work/probe"
    7zz x -snld -bso0 -bsp0 -o"$work/reference" "$archive"
    diff -r --no-dereference "$work/probe" "$work/reference" >/dev/null ||
        { echo "FAIL: shape $shape: the launcher's tree differs from 7zz's"; exit 1; }
    chmod -R u+rwx "$work/probe"
    rm -rf "$work/probe"
    rm -f "$work/t-$shape" "$work/x-$shape" "$work/m-$shape" "$work/o-$shape" "$work/l-$shape"
    for ((i = 0; i < runs; i++)); do
        /usr/bin/time -f "%e %M" -o "$work/time" 7zz x -snld -bso0 -bsp0 "$archive" -o"$out"
        cat "$work/time" >>"$work/x-$shape"
        rm -rf "$out"
        sync
        /usr/bin/time -f "%e %M" -o "$work/time" "$work/$shape-setup" /q /x "$out" >/dev/null
        cat "$work/time" >>"$work/o-$shape"
        chmod -R u+rwx "$out"
        rm -rf "$out"
        sync
        /usr/bin/time -f "%e %M" -o "$work/time" "$peer" --quiet --noexec --target "$out" >/dev/null
        cat "$work/time" >>"$work/m-$shape"
        chmod -R u+rwx "$out"
        rm -rf "$out"
        sync
        # The physical limit: decoding spread over every usable core, and writing the tree.
        /usr/bin/time -f "%U %S" -o "$work/time" 7zz t -bso0 -bsp0 "$archive"
        awk -v c="$cores" '{printf "%.3f", ($1 + $2) / c}' "$work/time" >"$work/decode"
        /usr/bin/time -f "%e" -o "$work/time" cp -a "$work/reference" "$out"
        sync
        rm -rf "$out"
        awk -v d="$(cat "$work/decode")" '{printf "%.3f 0\n", d + $1}' "$work/time" >>"$work/l-$shape"
    done
    chmod -R u+rwx "$work/reference"
    rm -rf "$work/reference"
    tx=$(median "$work/x-$shape" 1)
    to=$(median "$work/o-$shape" 1)
    tm=$(median "$work/m-$shape" 1)
    tl=$(median "$work/l-$shape" 1)
    echo "shape $shape ($(($(stat -c %s "$archive") / 1024 / 1024)) MiB archive, $runs runs, $cores cores):"
    printf '  7zz x: median %s s, peak %s KiB\n' "$tx" "$(peak "$work/x-$shape")"
    printf '  makeself --xz: median %s s, peak %s KiB\n' "$tm" "$(peak "$work/m-$shape")"
    printf '  launcher /q /x: median %s s, peak %s KiB\n' "$to" "$(peak "$work/o-$shape")"
    printf '  physical limit (7zz t over %s cores + copy of the tree): median %s s\n' "$cores" "$tl"
    if [ "$shape" = b16 ]; then
        printf '  time launcher/7zz %s, launcher/makeself %s, launcher/limit %s (no target)\n' \
            "$(ratio "$to" "$tx")" "$(ratio "$to" "$tm")" "$(ratio "$to" "$tl")"
        continue
    fi
    check "time launcher/7zz" "$(ratio "$to" "$tx")" 0.60
    [ "$shape" = c ] || check "time launcher/makeself" "$(ratio "$to" "$tm")" 0.50
    check "peak memory launcher/7zz" "$(ratio "$(peak "$work/o-$shape")" "$(peak "$work/x-$shape")")" 1.50
    check "time launcher/physical limit" "$(ratio "$to" "$tl")" 1.25
done
exit $status
