#!/usr/bin/env bash
# Benchmarks; each prints its figures and PASS or FAIL against its target.
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# Start-up with a 20 MiB payload against a 1 KiB payload.
mkdir -p "$work/large" "$work/small"
head -c $((20 * 1024 * 1024)) /dev/urandom > "$work/large/data.bin"
head -c 1024 /dev/urandom > "$work/small/data.bin"
printf '[main]\nProductName=Bench\n' > "$work/config.txt"
# Incompressible data stored as it is keeps the archive at the payload's size.
7zz a -bd -t7z -mx0 "$work/large.7z" "$work/large/data.bin" >/dev/null
7zz a -bd -t7z -mx0 "$work/small.7z" "$work/small/data.bin" >/dev/null
"$bin/sfxbuild" create --config "$work/config.txt" --archive "$work/large.7z" -o "$work/large-setup"
"$bin/sfxbuild" create --config "$work/config.txt" --archive "$work/small.7z" -o "$work/small-setup"
"$bin/startup_bench" "$work/large-setup" "$work/small-setup" || status=1

# Extraction of a 200 MiB payload against 7zz x of the same archive.
"$(dirname "$0")/extract_bench.sh" "$build" || status=1

exit $status
