#!/usr/bin/env bash
# Checks the layout of every C++ file against .clang-format and runs the bug-prone checks of
# .clang-tidy over every translation unit of the release build (configured when missing).
#   tools/lint.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
tools/setup.sh lint
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}"
[ -f "$build/compile_commands.json" ] || cmake --preset release >/dev/null
# Translation units of this tree only (not the fuzz or benchmark programs of other presets).
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^fuzz/\|^bench/')
printf '%s\n' "${units[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
echo "lint: ${#sources[@]} files formatted, ${#units[@]} translation units checked"
