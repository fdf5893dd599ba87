#!/usr/bin/env bash
# One fuzz test: every kept input once, then fuzzing for a bounded time from the seeds.
#   run_fuzzer.sh PROGRAM SEEDS KEPT WORKDIR SECONDS
# New inputs go to WORKDIR/corpus (the seeds in the tree stay as they are); a crash, hang
# (over 1 s), leak or sanitizer report fails the test and leaves its input in WORKDIR.
set -euo pipefail
program=$1 seeds=$2 kept=$3 work=$4 seconds=$5
mkdir -p "$work/corpus" "$work/artifacts"

shopt -s nullglob
inputs=("$kept"/*)
if [ ${#inputs[@]} -gt 0 ]; then
    echo "== ${#inputs[@]} kept inputs"
    "$program" -timeout=1 -rss_limit_mb=2048 "${inputs[@]}"
fi

echo "== fuzzing for ${seconds}s"
if ! "$program" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"; then
    echo "fuzzing found a fault; the input is in $work/artifacts/:" >&2
    ls -l "$work/artifacts/" >&2
    echo "keep it under $kept and add the fix" >&2
    exit 1
fi
