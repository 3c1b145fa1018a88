#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --demo
cmake --preset release
cmake --build --preset release -j "$(nproc)" --target vekta-host TikTokPostProcess
build/bin/vekta-host describe
