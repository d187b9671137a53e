#!/usr/bin/env bash
# The long fuzz runs: each target in turn for FUZZ_SECONDS (default 7200), niced, from the
# committed corpus and saved findings, its new inputs growing a scratch corpus under
# <tree>/long/<target>/corpus. A finding ends that target's run; it is copied to
# fuzz/regressions/<target>/ for the replay tests. Prints each run's libFuzzer figures.
set -uo pipefail
tree=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-7200}
here=$(cd "$(dirname "$0")/.." && pwd)
# Every target built in the tree, unless FUZZ_TARGETS names some.
targets=${FUZZ_TARGETS:-$(find "$tree/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' \
    ! -name fuzz_corpus_generator -printf '%f\n' | sort)}
findings=0
for t in $targets; do
    work="$tree/long/$t"
    mkdir -p "$work/corpus" "$work/findings"
    # The committed inputs: the generated corpus, or hand-made seeds (and the guide's patches).
    inputs=()
    for d in "$here/fuzz/corpus/$t" "$here/fuzz/seeds/$t" "$here/fuzz/regressions/$t"; do
        [ -d "$d" ] && inputs+=("$d")
    done
    [ "$t" = fuzz_patch ] && inputs+=("$here/docs/patches")
    # A target's own dictionary and libFuzzer limits (fuzz/<target>.dict, .options), if any.
    dict="$here/fuzz/$t.dict"
    [ -f "$dict" ] || dict="$here/fuzz/edge_floats.dict"
    limits=()
    [ -f "$here/fuzz/$t.options" ] && read -ra limits <"$here/fuzz/$t.options"
    echo "== $t: $seconds s"
    nice "$tree/fuzz/$t" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
        "${limits[@]}" -dict="$dict" -artifact_prefix="$work/findings/" \
        "$work/corpus" "${inputs[@]}" >"$work/log" 2>&1
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
