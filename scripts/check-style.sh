#!/usr/bin/env bash
# The house style: every tracked C and C++ file formatted as .clang-format says (clang-format
# --dry-run fails on the first difference). With --tidy, also the .clang-tidy checks over the
# release build's compile commands (slow: every file of the project is analysed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --style

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
echo "clang-format: ${#files[@]} files"
clang-format --dry-run --Werror "${files[@]}"
echo "clang-format: all files formatted"

if [[ "${1:-}" == "--tidy" ]]; then
  cmake --preset release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  # Sources the Linux build compiles; headers are checked through them.
  mapfile -t sources < <(git ls-files '*.cpp' | grep -v -E 'Win32\.cpp$|^tests/fuzz/')
  run-clang-tidy -quiet -p build -j "$(nproc)" "${sources[@]}"
fi
