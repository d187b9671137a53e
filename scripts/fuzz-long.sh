#!/usr/bin/env bash
# The long fuzz runs: each target in turn for FUZZ_SECONDS (default 7200), niced, from the
# committed corpus and saved findings, its new inputs growing a scratch corpus under
# <tree>/long/<target>/corpus. A finding ends that target's run; it is copied to
# fuzz/regressions/<target>/ for the replay tests. Prints each run's libFuzzer figures.
set -uo pipefail
tree=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-7200}
targets=${FUZZ_TARGETS:-fuzz_operations fuzz_pin_buffers fuzz_voice_table}
here=$(cd "$(dirname "$0")/.." && pwd)
findings=0
for t in $targets; do
    work="$tree/long/$t"
    mkdir -p "$work/corpus" "$work/findings"
    echo "== $t: $seconds s"
    nice "$tree/fuzz/$t" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
        -dict="$here/fuzz/edge_floats.dict" -artifact_prefix="$work/findings/" \
        "$work/corpus" "$here/fuzz/corpus/$t" "$here/fuzz/regressions/$t" >"$work/log" 2>&1
    grep -E "^#[0-9]+[[:space:]]+DONE|^stat::|FINDING|ERROR|Done [0-9]+ runs" "$work/log"
    for f in "$work"/findings/*; do
        [ -e "$f" ] || continue
        cp "$f" "$here/fuzz/regressions/$t/"
        echo "finding: $f -> fuzz/regressions/$t/$(basename "$f")"
        findings=$((findings + 1))
    done
done
echo "fuzz-long: $findings finding(s)"
[ "$findings" -eq 0 ]
