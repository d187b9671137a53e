#!/usr/bin/env bash
# Runs every Google Benchmark of tarn_bench with the JSON kept: 5 repetitions, aggregates only
# (the tables use the median), then prints the process-entry tables from that JSON. Extra
# arguments go to tarn_bench, e.g. --benchmark_filter=ProcessEntry --benchmark_min_time=0.2.
# Usage: bench/run.sh [tarn_bench options]   (the native tree must be built: make native)
set -euo pipefail

cd "$(dirname "$0")/.."
BENCH=build/native/bench/tarn_bench
JSON=build/native/bench.json
[ -x "$BENCH" ] || { echo "run.sh: $BENCH not built (make native)" >&2; exit 1; }

"$BENCH" --benchmark_out="$JSON" --benchmark_out_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true "$@"
python3 bench/bench_table.py "$JSON"
echo "run.sh: JSON in $JSON"
