#!/usr/bin/env bash
# Instructions per sample of the process routine on the 32-bit build, where valgrind cannot run
# (its x86 tools are 32-bit programs, which this kernel does not start). qemu-i386 runs the
# instruction-count driver one guest instruction per translation block with every block
# logged, so the log has one line per instruction executed; two runs that differ only in the
# number of samples give the cost per sample without the setup. -cpu picks the processor the
# plug-in sees: pentium3 (SSE, no SSE2: the per-sample loop in x87 doubles, the four-lane sine
# kernel), Nehalem (SSE2 lanes), Haswell (AVX2 lanes). Exact counts of guest instructions; not
# times (an x87 instruction and a vector one count the same). On the x86-64 build the same
# method (qemu-x86_64 -cpu Haswell) gives what callgrind counts there (226 at K = 1000).
# PLUGINS names the plug-ins counted: "so", the i386 build of the sources (linked into the
# driver), and "dll", the shipped Windows DLL through tarn-dll.so (the loader's own calls into
# the DLL, a few dozen instructions per block, are counted with it).
# Usage: bench/qemu-count.sh [BUILD_DIR]   (default build/i386)
# Environment: CPUS (default "pentium3 Nehalem Haswell"), KS (default "10 1000"), BLOCKS
# (default 64), MODES (default 1), SAMPLES (default "640 3200": the two run lengths), PLUGINS
# (default "so dll"; "dll" needs tarn-dll.so and build/win32/tarn.dll).
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD=${1:-build/i386}
DRIVER=$BUILD/bench/tarn_count_instructions
CPUS=${CPUS:-pentium3 Nehalem Haswell}
KS=${KS:-10 1000}
BLOCKS=${BLOCKS:-64}
MODES=${MODES:-1}
PLUGINS=${PLUGINS:-so dll}
read -r SHORT LONG <<<"${SAMPLES:-640 3200}"
command -v qemu-i386 >/dev/null || { echo "qemu-count.sh: qemu-i386 is missing (scripts/install-deps.sh)" >&2; exit 1; }
[ -x "$DRIVER" ] || { echo "qemu-count.sh: $DRIVER not built (make i386)" >&2; exit 1; }

# The driver's plug-in option for a PLUGINS name.
plugin_option() {
    case "$1" in
    so) ;;
    dll) echo "--plugin $BUILD/tarn-dll.so" ;;
    *) echo "qemu-count.sh: unknown plug-in '$1' (so, dll)" >&2; exit 1 ;;
    esac
}

# Guest instructions of one run: plugin cpu hq mode K block samples.
instructions() {
    # shellcheck disable=SC2046 # the option is two words or none
    qemu-i386 -cpu "$2" -singlestep -d exec,nochain -D >(wc -l >"$TMP/count") \
        "$DRIVER" $(plugin_option "$1") "$3" "$4" "$5" "$6" "$7" 2>"$TMP/stderr" >/dev/null
    # qemu names the model's features its translator lacks (none of them used here).
    grep -v "TCG doesn't support requested feature" "$TMP/stderr" >&2 || true
    # The log is written by a process of its own; wait for its count.
    for _ in $(seq 100); do
        [ -s "$TMP/count" ] && break
        sleep 0.1
    done
    cat "$TMP/count"
    rm -f "$TMP/count"
}

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
printf 'qemu-i386: one voice, %s and %s samples per run\n' "$SHORT" "$LONG"
printf '%-6s %-9s %-5s %4s %6s %6s %12s\n' plugin cpu path mode block K per_sample
for plugin in $PLUGINS; do
    for cpu in $CPUS; do
        for mode in $MODES; do
            for block in $BLOCKS; do
                for hq in 0 1; do
                    path=fast
                    [ "$hq" = 1 ] && path=hq
                    for K in $KS; do
                        short=$(instructions "$plugin" "$cpu" "$hq" "$mode" "$K" "$block" "$SHORT")
                        long=$(instructions "$plugin" "$cpu" "$hq" "$mode" "$K" "$block" "$LONG")
                        printf '%-6s %-9s %-5s %4s %6s %6s %12s\n' "$plugin" "$cpu" "$path" "$mode" \
                            "$block" "$K" "$(awk -v a="$short" -v b="$long" -v n=$((LONG - SHORT)) \
                                'BEGIN { printf "%.1f", (b - a) / n }')"
                    done
                done
            done
        done
    done
done
