#!/usr/bin/env bash
# Runs ctest in each build tree given and ends with one line counting every test of all trees.
set -uo pipefail
passed=0
failed=0
# The legs that run the shipped tarn.dll itself (through tarn-dll.so in the i386 tree).
dll_legs='Test +#[0-9]+: (Dll\.|TarnDll\.|PeImage\.|Validate\.Dll\.)'
dll_passed=0
dll_failed=0
for tree in "$@"; do
    log="$tree/ctest.log"
    echo "== ctest in $tree"
    ctest --test-dir "$tree" --output-on-failure -j 2 >"$log" 2>&1
    rc=$?
    dll_passed=$((dll_passed + $(grep -E "$dll_legs" "$log" | grep -c ' Passed ')))
    dll_failed=$((dll_failed + $(grep -E "$dll_legs" "$log" | grep -vc ' Passed ')))
    grep -E "tests passed|tests failed|\*\*\*Failed|\*\*\*Exception|Timeout" "$log" | tail -n 20
    line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "ctest in $tree ran no test or did not finish (exit $rc); see $log"
        tail -n 30 "$log"
        failed=$((failed + 1))
        continue
    fi
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
    [ "$rc" -eq 0 ] || [ "$f" -gt 0 ] || failed=$((failed + 1))
done
echo "of which on tarn.dll itself: $dll_passed passed, $dll_failed failed"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
