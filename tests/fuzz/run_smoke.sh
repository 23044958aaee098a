#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build for a while on its seed corpus (new inputs go to a scratch
# folder, the committed seeds stay as they are) and prints one summary line per target. Fails on any
# finding.
# usage: tests/fuzz/run_smoke.sh [seconds per target, default 20] [build folder, default build/fuzz]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-20}
build=${2:-$root/build/fuzz}
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "$build"/tests/fuzz/*_fuzz; do
    name=$(basename "$target")
    scratch=$(mktemp -d)
    log=$scratch/log
    if "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$scratch/" "$scratch" "$root/tests/fuzz/corpus/$name" >"$log" 2>&1; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*' || echo '?')
        printf '%-26s ok   %10s runs  cov %s\n' "$name" "$runs" "$cov"
    else
        printf '%-26s FAILED\n' "$name"
        tail -n 40 "$log"
        status=1
    fi
    rm -rf "$scratch"
done
exit $status
