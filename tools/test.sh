#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   KV_BUILD_DIR  build folder (default: build)
#   KV_CMAKE_ARGS extra arguments for cmake (for example -DKV_SANITIZE=ON)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$top/build}

"$top/tools/install-deps.sh"

# shellcheck disable=SC2086
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON \
    ${KV_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"

# The office test needs a display; window tests run offscreen anyway.
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 91 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        break
    done
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi

ctest --test-dir "$build" --output-on-failure --timeout 600 -j2
