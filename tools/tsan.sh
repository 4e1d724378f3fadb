#!/usr/bin/env bash
# Builds the collection's thread test and the simulator with ThreadSanitizer and runs it: eight
# simulated controllers read at once while the window's port map is changed. Any report fails.
#   KV_BUILD_DIR  build folder (default: build-tsan)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$top/build-tsan}
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON \
    -DKV_BUILD_BENCH=OFF -DKV_TSAN=ON "${launcher[@]}"
cmake --build "$build" -j"$(nproc)" --target test_fleet_threads kv9000-sim
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tools/tsan.supp ${TSAN_OPTIONS:-}"
KV_BIN_DIR="$build/bin" QT_QPA_PLATFORM=offscreen "$build/bin/test_fleet_threads"
