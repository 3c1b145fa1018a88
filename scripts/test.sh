#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs the whole test suite.
# Usage: scripts/test.sh [preset]   (release, debug, asan, tsan, windows or soak; default release)
# windows: the cross build with mingw-w64, its tests run under Wine (the end-to-end ones beside two
# programs of the release preset's Linux build).
# soak: the release build's soak test alone (200 publishes, 50 sign-ins in one process), which the
# other presets leave out.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
if [[ "$preset" == "windows" ]]; then
  # The end-to-end tests run vekta-host.exe against the Linux build's sandbox and stand-in browser
  # (and FFmpeg makes their video): those two programs of the release preset come first.
  scripts/install-deps.sh --demo
  scripts/install-deps.sh --windows
  cmake --preset release
  cmake --build --preset release -j "$(nproc)" --target tiktok-sandbox test-headless-browser
  cmake --preset windows -DVEKTA_NATIVE_SANDBOX="$PWD/build/bin/tiktok-sandbox" \
                         -DVEKTA_NATIVE_BROWSER="$PWD/build/bin/tests/test-headless-browser"
  cmake --build --preset windows -j "$(nproc)"
  # One Wine server for the whole run, in the build folder's own prefix (nothing in the home folder);
  # the first start sets the prefix up.
  # No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
  export WINEPREFIX="$PWD/build-windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p || true  # already running for this prefix (an earlier run's): it serves this one too
  trap 'wineserver -k || true' EXIT
  # Wine's own services start here, not in the first test: started by a test they would keep
  # ctest's output pipe open and ctest would wait for them.
  wine wineboot --init </dev/null >/dev/null 2>&1
  ctest --preset windows -j "$(nproc)"
  exit
fi
if [[ "$preset" == "soak" ]]; then
  scripts/install-deps.sh --all
  cmake --preset release
  cmake --build --preset release -j "$(nproc)" --target tiktok_soak
  ctest --preset soak
  exit
fi
scripts/install-deps.sh --all
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
