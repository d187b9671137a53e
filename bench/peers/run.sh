#!/usr/bin/env bash
# Peer comparison: installs Csound and SuperCollider's server when missing, then renders the
# same work with gbuzz, Blip and TARN (tarn-render --null) and prints ns per output sample per
# voice, net of each engine's own overhead, and the ratios, from one interleaved run.
# Usage: bench/peers/run.sh [BUILD_DIR]   (default build/native; tarn-render must be built)
# Environment: ROUNDS (5), SECONDS (60), VOICES (16), BLOCK (64), RATE (44100).
set -euo pipefail

cd "$(dirname "$0")/../.."
BUILD=${1:-build/native}
[ -x "$BUILD/tarn-render" ] || { echo "peers: $BUILD/tarn-render not built (make native)" >&2; exit 1; }
bench/peers/install-peers.sh
exec python3 bench/peers/peers.py "$BUILD"
