#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time, starting from the seed corpus
# in tests/fuzz/corpus (read only; new inputs go to build-fuzz/corpus), and
# prints each target's executions and coverage. A crash fails the run and leaves
# the input in build-fuzz/crashes.
set -euo pipefail
ROOT=${1:?source folder}
SECONDS_EACH=${2:-60}
OUT="$ROOT/build-fuzz"
mkdir -p "$OUT/crashes"
failed=0
for t in messages wait_reply settings_text description version_info value_check; do
    mkdir -p "$OUT/corpus/$t"
    log="$OUT/fuzz_$t.log"
    if "$OUT/tests/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -rss_limit_mb=2048 \
        -artifact_prefix="$OUT/crashes/$t-" "$OUT/corpus/$t" "$ROOT/tests/fuzz/corpus/$t" > "$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed=$((failed + 1))
        tail -40 "$log"
    fi
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo "?")
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || echo "cov: ?")
    printf 'fuzz %-14s %s: %s executions, %s\n' "$t" "$status" "$runs" "$cov"
done
[ "$failed" -eq 0 ]
