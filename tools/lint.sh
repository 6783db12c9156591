#!/usr/bin/env bash
# Checks the layout of every C++ file against .clang-format; with --tidy, also runs the
# bug-prone checks of .clang-tidy over every translation unit of the release build
# (configured when missing).
#   tools/lint.sh [--tidy] [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
tidy=0
[ "${1:-}" != --tidy ] || { tidy=1; shift; }
build=${1:-build/release}
tools/setup.sh lint
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}"
echo "lint: ${#sources[@]} files laid out as .clang-format says"
[ $tidy -eq 1 ] || exit 0
[ -f "$build/compile_commands.json" ] || cmake --preset release >/dev/null
# Translation units of this tree only (not the fuzz or benchmark programs of other presets).
mapfile -t units < <(git ls-files '*.cpp' | grep -v '^fuzz/\|^bench/')
printf '%s\n' "${units[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
echo "lint: ${#units[@]} translation units checked"
