#!/usr/bin/env bash
# Instructions per sample of the process routine, counted by callgrind: a fixed number of
# samples through the record's process entry, one sounding voice, Mode 1, K = 10 and 1000, on
# both paths ("hq" off and on), at each block size. Only countedProcessCalls (the loop of
# process calls) is collected, so setup and teardown do not count. Repeatable where timings
# are not. Usage: bench/callgrind.sh [BUILD_DIR]   (default build/native)
# Environment: SAMPLES (default 88200), BLOCKS (default "64 1024"), KS (default "10 1000"; the
# ratio is printed when both 10 and 1000 are among them), MODES (default 1), MODULATED (default
# 0; 1 gives "a", "combfreq" and "combphase" a new value at every sample, 2 "fc" too, 3 "fc"
# alone, 4 "fc" a new value every 64 samples).
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD=${1:-build/native}
DRIVER=$BUILD/bench/tarn_count_instructions
SAMPLES=${SAMPLES:-88200}
BLOCKS=${BLOCKS:-64 1024}
KS=${KS:-10 1000}
MODES=${MODES:-1}
MODULATED=${MODULATED:-0}
OUT=$BUILD/callgrind
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind is missing (scripts/install-deps.sh)" >&2; exit 1; }
[ -x "$DRIVER" ] || { echo "callgrind.sh: $DRIVER not built (make native)" >&2; exit 1; }
mkdir -p "$OUT"

# Prints "instructions samples realK" for one run.
count() { # hq K block mode
    local name=$OUT/hq$1-mode$4-K$2-block$3-mod$MODULATED
    local line
    line=$(valgrind --tool=callgrind --collect-atstart=no --toggle-collect=countedProcessCalls \
        --callgrind-out-file="$name.out" --log-file="$name.log" \
        "$DRIVER" "$1" "$4" "$2" "$3" "$SAMPLES" "$MODULATED")
    local ir
    ir=$(sed -n 's/^summary: *//p' "$name.out")
    local samples=${line##*samples=}
    local k=${line#*K=}
    k=${k%% *}
    echo "$ir $samples $k"
}

printf 'callgrind: one voice, %s samples per run, modulated %s\n' "$SAMPLES" "$MODULATED"
printf '%-5s %4s %6s %6s %8s %14s %12s\n' path mode block K real_K instructions per_sample
declare -A per
for mode in $MODES; do
    for block in $BLOCKS; do
        for hq in 0 1; do
            path=fast
            [ "$hq" = 1 ] && path=hq
            for K in $KS; do
                read -r ir samples k < <(count "$hq" "$K" "$block" "$mode")
                per[$path-$mode-$block-$K]=$(awk -v i="$ir" -v s="$samples" \
                    'BEGIN { printf "%.1f", i / s }')
                printf '%-5s %4s %6s %6s %8s %14s %12s\n' "$path" "$mode" "$block" "$K" "$k" \
                    "$ir" "${per[$path-$mode-$block-$K]}"
            done
        done
    done
done
for mode in $MODES; do
    for block in $BLOCKS; do
        for path in fast hq; do
            if [ -z "${per[$path-$mode-$block-10]:-}" ] || [ -z "${per[$path-$mode-$block-1000]:-}" ]; then
                continue
            fi
            awk -v p="$path" -v m="$mode" -v b="$block" -v hi="${per[$path-$mode-$block-1000]}" \
                -v lo="${per[$path-$mode-$block-10]}" \
                'BEGIN { printf "ratio K=1000/K=10 %-4s Mode %s block %4s: %.3f\n", p, m, b, hi / lo }'
        done
    done
done
echo "callgrind.sh: profiles in $OUT/*.out (callgrind_annotate FILE)"
