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
"$bin/sfxbuild" create --no-checks --config "$work/config.txt" --archive "$work/large.7z" -o "$work/large-setup"
"$bin/sfxbuild" create --no-checks --config "$work/config.txt" --archive "$work/small.7z" -o "$work/small-setup"
"$bin/startup_bench" "$work/large-setup" "$work/small-setup" || status=1

# Start-up to the setup's start on an empty payload, against makeself (--xz) starting the same
# setup and against the static spawn-only floor. The probe is the sample setup with one byte
# written to descriptor 3 first, so the clock stops as it starts.
mkdir -p "$work/empty"
{ echo '#!/bin/sh'; echo 'printf x >&3'; tail -n +2 "$(dirname "$0")/../examples/sample-product/setup.sh"; } \
    > "$work/probe.sh"
chmod +x "$work/probe.sh"
printf '[main]\nProductName=Bench\nSetupFileName=%s\n' "$work/probe.sh" > "$work/setup-config.txt"
(cd "$work/empty" && 7zz a -bd -t7z "$work/empty.7z" . >/dev/null)
"$bin/sfxbuild" create --no-checks --config "$work/setup-config.txt" --archive "$work/empty.7z" \
    -o "$work/setup-start"
makeself --quiet --xz --nox11 "$work/empty" "$work/setup-start.run" Bench "$work/probe.sh" \
    >/dev/null
"$bin/setup_start_bench" "$work/setup-start" "$work/setup-start.run" "$bin/spawn_only" \
    "$work/probe.sh" 30 2>/dev/null | grep '^setup start' || status=1

# Extraction of a 200 MiB payload against 7zz x of the same archive.
"$(dirname "$0")/extract_bench.sh" "$build" || status=1

# Three payload shapes against 7zz x, makeself and the physical limit.
"$(dirname "$0")/shapes_bench.sh" "$build" || status=1

# The launcher's digest check against the same extraction without it.
"$(dirname "$0")/digest_bench.sh" "$build" || status=1

exit $status
