#!/usr/bin/env bash
# What the launcher's digest check costs an extraction: the same launcher file of a 200 MiB
# payload (libraries, programs, incompressible data) extracted with /q /x, once as built and
# once with its digest slot zeroed (a file without a digest is not checked), alternating, each
# run into a fresh folder. Target: median with the check at most 1.03 x the median without.
#   digest_bench.sh [BUILD_DIR]      (DIGEST_BENCH_RUNS: runs of each, default 7)
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
runs=${DIGEST_BENCH_RUNS:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/digest-bench.XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

payload=$work/payload
mkdir -p "$payload/lib" "$payload/bin"
# Plain files only, so that the payload needs no link checks.
# (The readers end early when head has enough: their SIGPIPE is no failure.)
{ find /usr/lib -type f -readable -size -20M -print0 2>/dev/null | sort -z | head -z -n 4000 |
    xargs -0 cat 2>/dev/null || true; } | head -c $((120 * 1024 * 1024)) |
    split -b 4m - "$payload/lib/part."
{ find /usr/bin -type f -readable -print0 | sort -z | xargs -0 cat 2>/dev/null || true; } |
    head -c $((40 * 1024 * 1024)) | split -b 2m - "$payload/bin/part."
head -c $((40 * 1024 * 1024)) /dev/urandom >"$payload/random.bin"
echo "payload: $(($(du -sb "$payload" | cut -f1) / 1024 / 1024)) MiB"
printf '[main]\nProductName=Bench\n' >"$work/config.txt"
"$bin/sfxbuild" create --no-checks --config "$work/config.txt" --dir "$payload" -o "$work/checked"
rm -rf "$payload"
# The same bytes without a digest: the slot's 32 bytes set to zero.
digest=$("$bin/sfxbuild" info "$work/checked" | sed -n 's/^ *_VRN_DIGEST *32  \([0-9a-f]*\)$/\1/p')
[ ${#digest} -eq 64 ] || { echo "FAIL: no digest in the launcher file"; exit 1; }
python3 - "$work/checked" "$work/unchecked" "$digest" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.find(bytes.fromhex(sys.argv[3]))
assert at > 0 and data.find(bytes.fromhex(sys.argv[3]), at + 1) < 0
data[at:at + 32] = bytes(32)
open(sys.argv[2], 'wb').write(data)
PY
chmod 755 "$work/unchecked"
"$bin/sfxbuild" verify "$work/unchecked" | grep -q 'no digest' || { echo "FAIL: slot not cleared"; exit 1; }

measure() { # checked|unchecked -> appends seconds to $work/<which>.times
    local out=$work/out
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$work/$1" /q /x "$out" >/dev/null
    cut -d' ' -f1 "$work/time" >>"$work/$1.times"
    # Processor time, which a busy machine disturbs less than the wall clock.
    awk '{printf "%.2f\n", $2 + $3}' "$work/time" >>"$work/$1.cpu"
    rm -rf "$out"
    sync
}
measure checked # warms the page cache for both
rm -f "$work/checked.times" "$work/checked.cpu"
for ((i = 0; i < runs; i++)); do
    measure unchecked
    measure checked
done
median() { sort -n "$work/$1" | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
spread() { sort -n "$work/$1" | awk 'NR==1 {lo=$1} {hi=$1} END {printf "%s..%s", lo, hi}'; }
tc=$(median checked.times)
tu=$(median unchecked.times)
ratio=$(awk -v a="$tc" -v b="$tu" 'BEGIN {printf "%.3f", a / b}')
printf 'without digest: median %s s (%s); with digest check: median %s s (%s)\n' \
    "$tu" "$(spread unchecked.times)" "$tc" "$(spread checked.times)"
cc=$(median checked.cpu)
cu=$(median unchecked.cpu)
printf 'processor time: without digest median %s s (%s), with %s s (%s), ratio %s\n' \
    "$cu" "$(spread unchecked.cpu)" "$cc" "$(spread checked.cpu)" \
    "$(awk -v a="$cc" -v b="$cu" 'BEGIN {printf "%.3f", a / b}')"
if awk -v r="$ratio" 'BEGIN {exit !(r <= 1.03)}'; then
    echo "digest check cost ratio $ratio (target <= 1.03): PASS"
else
    echo "digest check cost ratio $ratio (target <= 1.03): FAIL"
    exit 1
fi
