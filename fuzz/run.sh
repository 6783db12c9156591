#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for a bounded time (FUZZ_SECONDS each, 35 by
# default), printing how many inputs each ran. Fails on any crash, sanitizer report, leak,
# timeout or out-of-memory; the input that caused it is kept as build/fuzz/artifacts/<target>-*.
# New corpus entries go to build/fuzz/corpus/<target>. The memory limits (512 MiB of resident
# memory, no allocation above 512 MiB) sit far below what amplification costs: inputs inflate to
# at most 64 MiB in the targets. Inputs are small (FUZZ_MAX_LEN bytes, 16 KiB by default) so
# that every target runs thousands of them a second; the heavy generated cases (thousands of
# rooms, millions of problems) are run by the regression tests under ctest instead. One process
# fills each corpus, so it is not reread while the fuzzer runs (-reload=0).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-35}"
targets=(load zfile convert info export)
max_len="${FUZZ_MAX_LEN:-16384}"

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
    "build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=512 \
        -malloc_limit_mb=512 -max_len="$max_len" -timeout=10 -print_final_stats=1 -reload=0 \
        -artifact_prefix="build/fuzz/artifacts/$target-" \
        "$corpus" "build/fuzz/fuzz/seeds/$target" "fuzz/regression/$target" > "$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    peak="$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)"
    echo "fuzz: $target ran ${runs:-0} inputs in ${seconds} s ($(( ${runs:-0} / seconds )) a second), peak ${peak:-?} MiB"
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
