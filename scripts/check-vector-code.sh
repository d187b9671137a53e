#!/usr/bin/env bash
# Checks a 32-bit build of the plug-in for SSE and AVX code outside the files built for it. The
# library runs on processors without SSE; only the four-lane sine kernel, the block render path
# with its rotation tables, and the lane passes may use vector registers, each behind a run-time
# processor test. An inline function with external linkage compiled in one of those files would
# be a shared copy (a COMDAT section) that the linker may pick for every caller, so vector code
# in such a section fails too. The 32-bit builds stop at AVX2: any AVX-512 register fails.
# Reads the plug-in's object files.
# Usage: scripts/check-vector-code.sh BUILD_DIR   (build/i386 or build/win32)
set -uo pipefail

build=${1:-}
if [ -z "$build" ] || [ ! -d "$build" ]; then
    echo "check-vector-code: no such build directory: '$build'" >&2
    exit 2
fi
# The files compiled with target attributes or pragmas for SSE, SSE2 or AVX2.
allowed='/(sin_cos_pi4|sub_blocks|held_sub_block|ratio_held_sub_block|moving_sub_block|held_ratio|held_rotations|lanes_sse2|lanes_avx2)\.cpp\.o(bj)?$'

mapfile -t objects < <(find "$build/kernels" "$build/oscillator" "$build/se_sdk2" "$build/exports" \
    \( -name '*.o' -o -name '*.obj' \) -path '*CMakeFiles*' | sort)
# Only the objects the build still makes: a source dropped from a target leaves its old object
# behind, and Ninja lists the live ones.
if live=$(ninja -C "$build" -t targets all 2>/dev/null | sed -n 's/^\([^:]*\.o\(bj\)\?\): .*/\1/p') &&
    [ -n "$live" ]; then
    mapfile -t objects < <(printf '%s\n' "${objects[@]}" | grep -Fxf <(sed "s|^|$build/|" <<<"$live"))
fi
if [ "${#objects[@]}" -eq 0 ]; then
    echo "check-vector-code: no object files under $build" >&2
    exit 2
fi

disassemble() {
    local tool=objdump
    case "$1" in *.obj) tool=i686-w64-mingw32-objdump ;; esac
    "$tool" -d -C --no-show-raw-insn "$1"
}

# "section<TAB>function" for every function that touches a vector register, an AVX-512 mask
# register, MXCSR, or an SSE prefetch or fence.
vectorFunctions() {
    disassemble "$1" | awk '
        /^Disassembly of section / { section = $4; sub(/:$/, "", section); next }
        /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn); next }
        /%[xyz]mm[0-9]|%k[0-7]\>|mxcsr|prefetch|[lsm]fence/ {
            key = section "\t" fn
            if (!(key in seen)) { seen[key] = 1; print key }
        }'
}

failed=0
vectorObjects=0
for o in "${objects[@]}"; do
    found=$(vectorFunctions "$o")
    [ -z "$found" ] && continue
    if ! [[ "$o" =~ $allowed ]]; then
        echo "FAIL: vector code in ${o#"$build"/}, built for every processor:"
        sed 's/^[^\t]*\t/    /' <<<"$found"
        failed=1
        continue
    fi
    vectorObjects=$((vectorObjects + 1))
    wide=$(disassemble "$o" | grep -cE '%zmm[0-9]|%k[0-7]\>')
    if [ "$wide" -gt 0 ]; then
        echo "FAIL: $wide instructions on AVX-512 registers in ${o#"$build"/}"
        failed=1
    fi
    # .text, .text.unlikely, .text.startup: this file's own code. .text._Z..., .text$_Z...:
    # COMDAT copies shared with the other files.
    shared=$(awk -F'\t' '$1 ~ /^\.text[.$]_Z/' <<<"$found")
    if [ -n "$shared" ]; then
        echo "FAIL: shared (COMDAT) copies with vector code in ${o#"$build"/}:"
        sed 's/^/    /' <<<"$shared"
        failed=1
    fi
done
echo "check-vector-code: ${#objects[@]} object files, $vectorObjects with vector code, all in the files built for it"
if [ "$vectorObjects" -eq 0 ]; then
    echo "FAIL: no vector code at all: the four-lane kernel and the lane passes are missing" >&2
    failed=1
fi
exit "$failed"
