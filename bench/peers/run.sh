#!/usr/bin/env bash
# Peer comparison: installs Csound and SuperCollider's server when missing, then renders the
# same work with gbuzz, Blip and TARN (tarn-render --null, "hq" off and on) and prints ns per
# output sample per voice, net of each engine's own overhead, and TARN's cost as a multiple of
# gbuzz's and Blip's, from one interleaved run. By default the target case: one voice, 1000
# partials, block (ksmps) 64, held inputs, 44.1 kHz.
# Usage: bench/peers/run.sh [BUILD_DIR]   (default build/native; tarn-render must be built)
# Environment: ROUNDS (9), SECONDS (600), VOICES (1), BLOCK (64), RATE (44100), PARTIALS
# ("1000"; e.g. "10 100 1000"), TARN_TREES (TARN from several trees in one run, in place of
# BUILD_DIR: TARN_TREES="base=/work/wt-base/build/native new=build/native").
set -euo pipefail

cd "$(dirname "$0")/../.."
BUILD=${1:-build/native}
trees=$BUILD
if [ -n "${TARN_TREES:-}" ]; then
    trees=""
    for item in $TARN_TREES; do
        trees="$trees ${item#*=}"
    done
fi
for tree in $trees; do
    [ -x "$tree/tarn-render" ] ||
        { echo "peers: $tree/tarn-render not built (make native)" >&2; exit 1; }
done
bench/peers/install-peers.sh
exec python3 bench/peers/peers.py "$BUILD"
