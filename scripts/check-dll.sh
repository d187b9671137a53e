#!/usr/bin/env bash
# Checks the Windows build of the plug-in: its export table must name exactly getModuleProperties
# and makeModule (undecorated, no unnamed ordinals), every DLL it imports must be a Windows
# system DLL (the runtime is linked statically: no libstdc++, libgcc or libwinpthread), and no
# function may make an aligned vector access to a stack it has not realigned (hosts promise only
# 4-byte alignment; scripts/check-stack-alignment.py). --alignment-only runs the last check alone.
# Usage: scripts/check-dll.sh [--alignment-only] PATH/tarn.dll
set -uo pipefail

alignmentOnly=0
if [ "${1:-}" = --alignment-only ]; then
    alignmentOnly=1
    shift
fi
dll=${1:-}
if [ -z "$dll" ] || [ ! -f "$dll" ]; then
    echo "check-dll: no such file: '$dll'" >&2
    exit 2
fi
objdump=i686-w64-mingw32-objdump
if ! command -v "$objdump" >/dev/null; then
    echo "check-dll: $objdump not found (Debian package binutils-mingw-w64-i686)" >&2
    exit 2
fi
# The stack alignment of every function, from its disassembly.
alignment() {
    echo "aligned vector accesses to the stack in $dll (function: accesses, realignment):"
    python3 "$(dirname "$0")/check-stack-alignment.py" "$objdump" "$dll"
}
if [ "$alignmentOnly" -eq 1 ]; then
    alignment
    exit
fi

if ! dump=$("$objdump" -p "$dll" 2>&1); then
    echo "check-dll: $objdump failed on $dll:" >&2
    echo "$dump" >&2
    exit 2
fi

# Names of the [Ordinal/Name Pointer] Table: lines "[   0] name" up to the next blank line.
names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {inside = 1; next}
             inside && NF == 0 {inside = 0}
             inside && $1 ~ /^\[/ {sub(/^[ \t]*\[[ 0-9]*\][ \t]*/, ""); print}' <<<"$dump" | sort)
# Entries of the Export Address Table, named or not.
addresses=$(awk '/^Export Address Table -- Ordinal Base/ {inside = 1; next}
                 inside && NF == 0 {inside = 0}
                 inside && $1 ~ /^\[/ {n++}
                 END {print n + 0}' <<<"$dump")
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")

echo "exports of $dll ($addresses address entries):"
sed 's/^/    /' <<<"${names:-(none)}"
echo "imported DLLs:"
sed 's/^/    /' <<<"${imports:-(none)}"

failed=0
expected=$(printf '%s\n' getModuleProperties makeModule)
if [ "$names" != "$expected" ]; then
    echo "FAIL: the export names must be exactly getModuleProperties and makeModule, undecorated"
    failed=1
fi
if [ "$addresses" != 2 ]; then
    echo "FAIL: $addresses entries in the export address table, expected 2"
    failed=1
fi

# Windows' own DLLs, and the API sets that stand for them. Anything else is a runtime or a
# library that would have to ship beside the plug-in.
system_dll='^(kernel32|msvcrt|user32|gdi32|advapi32|ntdll|shell32|ole32|oleaut32|ws2_32|winmm|'
system_dll+='bcrypt|crypt32|shlwapi|version|comctl32|comdlg32|imm32|rpcrt4|setupapi|uxtheme|'
system_dll+='dwmapi|secur32|psapi|dbghelp|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r name; do
    [ -z "$name" ] && continue
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
    if ! [[ $lower =~ $system_dll ]]; then
        echo "FAIL: imports $name, which is not a Windows system DLL"
        failed=1
    fi
done <<<"$imports"
if [ -z "$imports" ]; then
    echo "FAIL: no import table found (not a DLL built by this tool chain?)"
    failed=1
fi

if ! alignment; then
    failed=1
fi

if [ "$failed" -eq 0 ]; then
    echo "OK: two undecorated exports, system DLLs only, every aligned stack access proven aligned"
fi
exit "$failed"
