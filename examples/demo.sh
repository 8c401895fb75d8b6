#!/bin/sh
# Builds a launcher file from the sample product and runs it, so the whole flow can be seen:
# extraction with progress, the setup started with its parameters and values, its status
# passed on. Usage: examples/demo.sh [BUILD_DIR]
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
out="$build/demo"
mkdir -p "$out"
launcher="$out/Sample-Setup--phDEMO000000000001"

"$build/bin/sfxbuild" create --config "$here/sample.cfg" --dir "$here/sample-product" \
    -o "$launcher"
"$build/bin/sfxbuild" stamp "$launcher" VRNID=demo-1234
echo "Built $launcher ($(wc -c < "$launcher") bytes):"
"$build/bin/sfxbuild" info "$launcher" | sed 's/^/  /'

echo
echo "Running: $launcher /l en-US \"an own argument\""
status=0
"$launcher" /l en-US "an own argument" || status=$?
echo
echo "The launcher ended with status $status (the sample setup asked for 3)."
[ "$status" -eq 3 ]
