#!/usr/bin/env bash
# The plug-in-only build and its install, in a throw-away directory. `make install-lv2` with no
# configured tree builds one with TARN_PLUGINS_ONLY and copies the bundle to
# DESTDIR/PREFIX/lib/lv2; the whole tree built, `cmake --install` puts the bundle and tarn.so
# under another DESTDIR. The configure must not have looked for the tests' and tools' libraries;
# lv2info and lv2bench (lilv) load what was installed.
# Usage: plugins_install.sh SOURCE_DIR
set -eu
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The objects are those of any other build of the same sources: ccache, when there is one.
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
fail() {
    echo "plugins_install: $*"
    exit 1
}

make -s -C "$src" install-lv2 NATIVE="$work/none" PLUGINS="$work/build" PREFIX=/usr \
    DESTDIR="$work/make" >"$work/make.log" 2>&1 || { cat "$work/make.log"; fail "make install-lv2"; }
tail -1 "$work/make.log"
if grep -iE '^[^#]*(sndfile|fftw|smf|gtest|googletest|nlohmann|benchmark|mingw|lilv)' \
    "$work/build/CMakeCache.txt"; then
    fail "the plug-in-only configure looked for the libraries above"
fi
cmake --build "$work/build" -j 2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
DESTDIR="$work/cmake" cmake --install "$work/build" --prefix /usr >/dev/null || fail "cmake --install"

for bundle in "$work/make/usr/lib/lv2/tarn.lv2" "$work/cmake/usr/lib/lv2/tarn.lv2"; do
    for f in tarn.so manifest.ttl tarn.ttl presets.ttl; do
        [ -f "$bundle/$f" ] || fail "no $bundle/$f"
    done
    out=$(LV2_PATH="$(dirname "$bundle"):/usr/lib/lv2" lv2info urn:tarn:lv2:oscillator 2>&1) ||
        fail "lv2info: $out"
    echo "$out" | grep -q "Bundle: *file://$bundle/" || fail "lv2info did not find $bundle: $out"
    run=$(LV2_PATH="$(dirname "$bundle"):/usr/lib/lv2" timeout 60 lv2bench -n 48000 2>&1)
    echo "$run" | grep -qE '^[0-9.e+-]+ urn:tarn:lv2:oscillator$' || fail "lv2bench: $run"
    echo "plugins_install: $bundle loads and runs in lilv"
done
[ -f "$work/cmake/usr/lib/tarn/tarn.so" ] || fail "no lib/tarn/tarn.so"
exports=$(nm -D --defined-only "$work/cmake/usr/lib/tarn/tarn.so" | awk '{print $3}' | sort | xargs)
[ "$exports" = "getModuleProperties makeModule" ] || fail "lib/tarn/tarn.so exports: $exports"
echo "plugins_install: make install-lv2 and cmake --install both install the plug-ins"
