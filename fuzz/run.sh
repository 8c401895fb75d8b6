#!/bin/sh
# Runs every fuzz target for a while from its seeds and the corpus of earlier runs.
# Usage: fuzz/run.sh BUILD_DIR FUZZ_DIR SECONDS [TARGET...]
#   BUILD_DIR: the ordinary build (sfxbuild and the stub make the seeds)
#   FUZZ_DIR:  the fuzz build; fuzz/ there holds the targets, and this script keeps corpus/
#              (grown by the runs), seeds/, findings/ (inputs that failed) and logs/ there
# Ends with status 1 when a target found a crash, hang, leak or memory exhaustion.
set -u
build=$1
fuzzdir=$(cd "$2" && pwd)
seconds=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

targets=$*
if [ -z "$targets" ]; then
    targets=$(cd "$here" && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi

"$here/make-corpora.sh" "$build" "$fuzzdir/seeds" >/dev/null || exit 1
mkdir -p "$fuzzdir/findings" "$fuzzdir/logs"

status=0
for target in $targets; do
    corpus="$fuzzdir/corpus/$target"
    mkdir -p "$corpus"
    dict=
    [ -f "$here/$target.dict" ] && dict="-dict=$here/$target.dict"
    log="$fuzzdir/logs/$target.log"
    # -timeout: an input that takes this long is a hang (generous: a loaded machine stalls the
    # sanitizer allocator for seconds); -rss_limit_mb: memory beyond this is
    # exhaustion; -max_len: inputs above it are cut (the archive seeds are a few KiB).
    # shellcheck disable=SC2086 # $dict is empty or one word
    "$fuzzdir/fuzz/$target" "$corpus" "$fuzzdir/seeds/$target" $dict \
        -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$fuzzdir/findings/$target-" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | sed 's/cov: //')
    if [ "$rc" -eq 0 ]; then
        echo "$target: ok, ${execs:-?} runs in ${seconds} s, ${cov:-?} edges"
    else
        status=1
        echo "$target: FAILED (status $rc), see $log:"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5
        ls "$fuzzdir/findings/$target-"* 2>/dev/null
    fi
done
exit $status
