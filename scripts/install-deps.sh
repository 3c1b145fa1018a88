#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the demo need and is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libcurl4-openssl-dev libcpp-httplib-dev nlohmann-json3-dev libssl-dev libboost-dev
  libcli11-dev
  libgtest-dev libgmock-dev
  curl
  # The .deb's Depends come from dpkg-shlibdeps (dpkg-dev, with build-essential), which cpack runs
  # on the files that `file` says are programs and libraries.
  dpkg-dev file
)
if [[ "${1:-}" == "--demo" || "${1:-}" == "--all" ]]; then
  packages+=(ffmpeg libavformat-dev libavcodec-dev libavutil-dev)
fi
if [[ "${1:-}" == "--all" ]]; then
  # A real browser for the end-to-end sign-in test.
  packages+=(chromium)
fi
if [[ "${1:-}" == "--windows" ]]; then
  # The Windows cross build (POSIX thread model) and Wine to run its tests; GoogleTest's sources
  # are built by the cross tool chain; Boost, nlohmann-json and CLI11 are header-only and come from
  # above.
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest)
fi
if [[ "${1:-}" == "--fuzz" ]]; then
  # clang with libFuzzer and the sanitizers' runtimes; llvm for the symbolizer of crash reports.
  packages+=(clang libclang-rt-14-dev llvm)
fi
if [[ "${1:-}" == "--style" ]]; then
  # The formatter and the static checks of scripts/check-style.sh.
  packages+=(clang-format clang-tidy)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
