#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time (FUZZ_SECONDS each, 35 by
# default). Fails on any crash, sanitizer report, leak, timeout or out-of-memory; the input that
# caused it is kept as build/fuzz/artifacts/<target>-*. New corpus entries go to
# build/fuzz/corpus/<target>. The memory limits (512 MiB of resident memory, no allocation
# above 512 MiB) sit far below what amplification costs: inputs inflate to at most 64 MiB in
# the targets, and the load target takes inputs up to 4 MiB, enough for thousands of rooms in
# the TR4 level data it reads. The generated cases (build/fuzz/fuzz/cases/<target>) run first.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-35}"
targets=(load zfile convert)

# clang++ with its fuzzer runtime (Debian splits the runtime into libclang-rt-14-dev).
tools/setup.sh fuzz

cmake --preset fuzz
cmake --build --preset fuzz

mkdir -p build/fuzz/artifacts
# AddressSanitizer keeps up to 256 MiB of freed memory in quarantine, which alone would use
# half the resident limit on a level of thousands of rooms; 32 MiB still catches reuse.
export ASAN_OPTIONS="quarantine_size_mb=32${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
failed=0
for target in "${targets[@]}"; do
    corpus="build/fuzz/corpus/$target"
    log="build/fuzz/$target.log"
    mkdir -p "$corpus"
    echo "fuzz: $target for ${seconds} s"
    status=0
    max_len=()
    if [ "$target" = load ]; then
        max_len=(-max_len=4194304)
    fi
    "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=512 \
        -malloc_limit_mb=512 "${max_len[@]}" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/artifacts/$target-" \
        "$corpus" "build/fuzz/fuzz/seeds/$target" "fuzz/regression/$target" \
        "build/fuzz/fuzz/cases/$target" > "$log" 2>&1 || status=$?
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    # A report that did not stop the run still fails it.
    if [ "$status" -ne 0 ] || grep -qE '==[0-9]+==ERROR|runtime error:|^SUMMARY:|fuzz invariant broken' "$log"; then
        echo "fuzz: $target FAILED (exit status $status); the end of $log:"
        tail -n 60 "$log"
        failed=1
    fi
done
if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "fuzz: every target ran ${seconds} s without a finding"
