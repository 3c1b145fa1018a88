#!/usr/bin/env bash
# Installs what is missing, builds, makes a short sample video and publishes it with the reference
# host to the built-in TikTok sandbox: sign-in, settings, progress, success and the profile link.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --demo
cmake --preset release
cmake --build --preset release -j "$(nproc)" --target vekta-host TikTokPostProcess

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
echo "Making a 12-second 1080x1920 test pattern at 30 fps (H.264 in MP4)..."
ffmpeg -loglevel error -f lavfi -i testsrc2=size=1080x1920:rate=30 -t 12 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p "$work/sample.mp4"

build/bin/vekta-host describe
echo
build/bin/vekta-host --sandbox --preset "$work/tiktok.preset" publish "$work/sample.mp4" \
  --caption "Made with Vekta #CorvaneSolvane" --privacy everyone --allow-comment --cover-ms 1500 </dev/null
