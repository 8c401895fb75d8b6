#!/usr/bin/env bash
# Extraction against `7zz x` of the same archive into the same file system: a payload of at
# least 200 MiB (programs, libraries, text, incompressible data; LZMA2 with the x86 filter, as
# sfxbuild packs it). Target: median wall time within 1.10 x that of 7zz, peak memory not above
# 7zz's. The same payload packed with a password is timed against `7zz x -p` (no target; the
# password is typed at the launcher's prompt on a pseudo-terminal that `script` provides).
#   extract_bench.sh [BUILD_DIR]      (EXTRACT_BENCH_RUNS: runs of each, default 5)
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
runs=${EXTRACT_BENCH_RUNS:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/extract-bench.XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

# Copies the first files of `src` (in name order) into `dest` until `mib` MiB are taken. Links
# to plain files come along when they stay inside the copied tree (relative, ".." only in
# front): the launcher refuses links that point out of its folder, and 7zz also refuses links
# to links and to folders.
take() {
    local src=$1 mib=$2 dest=$3 budget total=0 file rel size target rest
    budget=$((mib * 1024 * 1024))
    while IFS= read -r -d '' file; do
        rel=${file#"$src"/}
        if [ -L "$file" ]; then
            target=$(readlink "$file")
            rest=$target
            while [ "${rest#../}" != "$rest" ]; do rest=${rest#../}; done
            case "$target" in /*) continue ;; esac
            [ -f "$(dirname "$file")/$target" ] && [ ! -L "$(dirname "$file")/$target" ] || continue
            case "/$rest/" in */../*) continue ;; esac
            [ "$(( $(tr -cd / <<<"$rel" | wc -c) - ($(grep -o '\.\./' <<<"$target" | wc -l)) ))" -ge 0 ] || continue
        else
            size=$(stat -c %s "$file")
            [ $((total + size)) -le "$budget" ] || continue
            total=$((total + size))
        fi
        mkdir -p "$dest/$(dirname "$rel")"
        cp -P --preserve=mode "$file" "$dest/$rel" 2>/dev/null || true
        [ "$total" -lt "$budget" ] || break
    done < <(find "$src" \( -type f -o -type l \) -readable -print0 2>/dev/null | sort -z)
}

payload=$work/payload
take /usr/lib 120 "$payload/lib"
take /usr/bin 50 "$payload/bin"
take /usr/share/doc 20 "$payload/doc"
head -c $((40 * 1024 * 1024)) /dev/urandom >"$payload/random.bin"
# A machine with fewer files gets more incompressible data, up to the 200 MiB.
unpacked=$(du -sb "$payload" | cut -f1)
if [ "$unpacked" -lt $((201 * 1024 * 1024)) ]; then
    head -c $((201 * 1024 * 1024 - unpacked)) /dev/urandom >"$payload/random2.bin"
    unpacked=$(du -sb "$payload" | cut -f1)
fi
echo "payload: $((unpacked / 1024 / 1024)) MiB in $(find "$payload" | wc -l) items"

printf '[main]\nProductName=Bench\n' >"$work/config.txt"
setup=$work/bench-setup
"$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$payload" -o "$setup"
password=bench-password
printf '%s\n' "$password" >"$work/password"
"$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$payload" \
    --password-file "$work/password" -o "$work/bench-setup-pw" >/dev/null
rm -rf "$payload"
# The same archive for 7zz, cut out of the launcher file.
read -r offset size < <("$bin/sfxbuild" info "$setup" |
    sed -n 's/^archive: offset \([0-9]*\), size \([0-9]*\)$/\1 \2/p')
tail -c +$((offset + 1)) "$setup" | head -c "$size" >"$work/payload.7z"
read -r offset_pw size_pw < <("$bin/sfxbuild" info "$work/bench-setup-pw" |
    sed -n 's/^archive: offset \([0-9]*\), size \([0-9]*\)$/\1 \2/p')
tail -c +$((offset_pw + 1)) "$work/bench-setup-pw" | head -c "$size_pw" >"$work/payload-pw.7z"
echo "archive: $((size / 1024 / 1024)) MiB"

# The launcher file's extract-only run must give 7zz's tree. -snld: 7zz otherwise replaces
# every link with ".." in its target by an empty file.
ours=("$setup" /q /x)
"${ours[@]}" "$work/probe"
7zz x -snld -bso0 -bsp0 -o"$work/reference" "$work/payload.7z"
diff -r --no-dereference "$work/probe" "$work/reference" >/dev/null ||
    { echo "FAIL: the launcher's tree differs from 7zz's"; exit 1; }
chmod -R u+rwx "$work/probe" "$work/reference"
rm -rf "$work/probe" "$work/reference"

# Alternating runs, each into a fresh folder on the same file system, removed afterwards.
measure() { # 7zz|ours -> appends "seconds kilobytes" to $work/<which>
    local out=$work/out
    if [ "$1" = 7zz ]; then
        /usr/bin/time -f "%e %M" -o "$work/time" 7zz x -snld -bso0 -bsp0 "$work/payload.7z" -o"$out"
    elif [ "$1" = 7zz-pw ]; then
        /usr/bin/time -f "%e %M" -o "$work/time" 7zz x -snld -bso0 -bsp0 -p"$password" \
            "$work/payload-pw.7z" -o"$out"
    elif [ "$1" = ours-pw ]; then
        printf '%s\n' "$password" | /usr/bin/time -f "%e %M" -o "$work/time" \
            script -qec "'$work/bench-setup-pw' /q /x '$out'" /dev/null >/dev/null
    else
        /usr/bin/time -f "%e %M" -o "$work/time" "${ours[@]}" "$out" >/dev/null
    fi
    cat "$work/time" >>"$work/$1"
    chmod -R u+rwx "$out"
    rm -rf "$out"
    sync
}
for ((i = 0; i < runs; i++)); do
    measure 7zz
    measure ours
    measure 7zz-pw
    measure ours-pw
done
median() { cut -d' ' -f"$2" "$work/$1" | sort -n | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
peak() { cut -d' ' -f2 "$work/$1" | sort -n | tail -1; }
t7=$(median 7zz 1)
to=$(median ours 1)
m7=$(peak 7zz)
mo=$(peak ours)
time_ratio=$(awk -v a="$to" -v b="$t7" 'BEGIN {printf "%.3f", a / b}')
mem_ratio=$(awk -v a="$mo" -v b="$m7" 'BEGIN {printf "%.3f", a / b}')
printf '7zz x: median %s s, peak %s KiB\n' "$t7" "$m7"
printf 'launcher /q /x: median %s s, peak %s KiB\n' "$to" "$mo"
t7p=$(median 7zz-pw 1)
top=$(median ours-pw 1)
printf 'with a password: 7zz x -p median %s s, launcher median %s s, ratio %s (no target)\n' \
    "$t7p" "$top" "$(awk -v a="$top" -v b="$t7p" 'BEGIN {printf "%.3f", a / b}')"
status=0
if awk -v r="$time_ratio" 'BEGIN {exit !(r <= 1.10)}'; then
    echo "time ratio $time_ratio (target <= 1.10): PASS"
else
    echo "time ratio $time_ratio (target <= 1.10): FAIL"
    status=1
fi
if awk -v r="$mem_ratio" 'BEGIN {exit !(r <= 1.0)}'; then
    echo "memory ratio $mem_ratio (target <= 1.00): PASS"
else
    echo "memory ratio $mem_ratio (target <= 1.00): FAIL"
    status=1
fi
exit $status
