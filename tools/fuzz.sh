#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, runs each for KV_FUZZ_SECONDS (default 60) on a copy of its seed
# corpus, and prints executions per second and total executions per target. A crash, a sanitizer
# report or a broken invariant fails the script; the input that caused it is kept in
# KV_FUZZ_ARTIFACTS (default build-fuzz/crashes) and listed.
#   KV_BUILD_DIR      build folder (default: build-fuzz)
#   KV_FUZZ_TARGETS   targets to run (default: every fuzz_* target)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$top/build-fuzz}
seconds=${KV_FUZZ_SECONDS:-60}
artifacts=${KV_FUZZ_ARTIFACTS:-$build/crashes}

"$top/tools/install-deps.sh"

# A compiler cache where the machine has one (as in test.sh).
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF "${launcher[@]}"
targets=${KV_FUZZ_TARGETS:-$(sed -n 's/^kv_fuzz_target(\([a-z_]*\).*/fuzz_\1/p' \
    "$top/fuzz/CMakeLists.txt")}
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target fuzz_seeds $targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen
# The settings target writes its files through the temporary folder: in memory where there is one.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
mkdir -p "$artifacts"
failed=()
for target in $targets; do
    what=${target#fuzz_}
    work="$build/fuzz-work/$what"
    rm -rf "$work"
    mkdir -p "$work"
    # The fuzzer adds to its first corpus folder: a copy, so the tree stays as it is.
    for seeds in "$top/fuzz/corpus/$what" "$build/fuzz/seed/$what"; do
        [ -d "$seeds" ] && cp "$seeds"/* "$work"/
    done
    log="$build/fuzz-work/$what.log"
    echo "== $target: ${seconds} s"
    if "$build/bin/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$what-" "$work" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed+=("$target")
        tail -n 60 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "$target: $status, ${runs:-?} executions, ${speed:-?} per second"
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]}. Inputs kept in $artifacts:"
    ls -l "$artifacts"
    exit 1
fi
echo "Fuzzing found nothing."
