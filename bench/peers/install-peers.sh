#!/usr/bin/env bash
# Installs the two peer synthesis engines the peer comparison runs (Csound, SuperCollider's
# server) from Debian, only when missing. Optional tooling: nothing in make test needs them.
set -euo pipefail

exec "$(dirname "$0")/../../scripts/install-deps.sh" csound supercollider-server
