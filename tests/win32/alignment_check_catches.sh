#!/usr/bin/env bash
# The stack alignment check of scripts/check-dll.sh on tarn-stack-probe.dll: it must fail,
# naming the two functions that access the stack without realigning and not the one that
# realigns. Usage: alignment_check_catches.sh CHECK_DLL PROBE_DLL
set -uo pipefail
out=$("$1" --alignment-only "$2")
rc=$?
echo "$out"
failed=0
[ "$rc" -eq 1 ] || { echo "expected exit 1 from the check, got $rc"; failed=1; }
for fn in squareThroughArithmetic copyThroughAlignedMove; do
    grep -q " $fn: .* not proven aligned" <<<"$out" || { echo "$fn not caught"; failed=1; }
done
grep -q " squareOnRealignedStack: [0-9]* accesses, and \$0xfffffff0,%esp$" <<<"$out" ||
    { echo "squareOnRealignedStack not listed as realigned and proven"; failed=1; }
exit "$failed"
