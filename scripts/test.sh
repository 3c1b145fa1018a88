#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs the whole test suite.
# Usage: scripts/test.sh [preset]   (release, debug, asan or tsan; default release)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
scripts/install-deps.sh --all
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
