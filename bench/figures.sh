#!/usr/bin/env bash
# Prints every figure of BENCHMARKS.md's lead table as markdown rows, measured now on this
# machine: tarn_bench's process-entry runs, callgrind's and qemu-i386's instruction counts, and
# the peers run beside Csound's gbuzz and SuperCollider's Blip (installed when missing).
# Usage: bench/figures.sh [NATIVE_DIR [I386_DIR]]   (default build/native, build/i386; the DLL
# counts need the i386 tree's tarn-dll.so and build/win32/tarn.dll beside it: make i386)
# Environment: QUICK=1 runs everything briefly, to check the script, not to quote.
set -euo pipefail

cd "$(dirname "$0")/.."
NATIVE=${1:-build/native}
I386=${2:-build/i386}
for f in bench/tarn_bench bench/tarn_count_instructions tarn-render; do
    [ -x "$NATIVE/$f" ] || { echo "figures: $NATIVE/$f not built (make native)" >&2; exit 1; }
done
exec python3 bench/figures.py "$NATIVE" "$I386"
