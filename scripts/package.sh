#!/usr/bin/env bash
# Builds the installable packages: a .deb of the Linux build in build/packages/ (install it with
# `apt-get install ./build/packages/<file>.deb`) and a .zip of the Windows cross build in
# build-windows/packages/. Only what goes into them is built, not the tests.
# Usage: scripts/package.sh [linux|windows|all]   (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-all}"
case "$what" in
  linux | windows | all) ;;
  *) echo "Usage: scripts/package.sh [linux|windows|all]" >&2; exit 2 ;;
esac

if [[ "$what" != windows ]]; then
  scripts/install-deps.sh --demo  # vekta-host reads videos with FFmpeg's libraries
  cmake --preset release
  cmake --build --preset release -j "$(nproc)" --target vekta-host TikTokPostProcess vektaplatform tiktok-sandbox
  (cd build && cpack -G DEB -B "$PWD/packages")
fi
if [[ "$what" != linux ]]; then
  scripts/install-deps.sh --windows
  cmake --preset windows
  cmake --build --preset windows -j "$(nproc)" --target vekta-host TikTokPostProcess vektaplatform
  (cd build-windows && cpack -G ZIP -B "$PWD/packages")
fi
