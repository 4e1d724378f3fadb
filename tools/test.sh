#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   KV_BUILD_DIR  build folder (default: build)
#   KV_CMAKE_ARGS extra arguments for cmake (for example -DKV_SANITIZE=ON)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$top/build}

"$top/tools/install-deps.sh"

# A compiler cache where the machine has one: builds of other checkouts are reused (paths are
# taken relative to the checkout).
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# shellcheck disable=SC2086
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=ON \
    "${launcher[@]}" ${KV_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"

# The office test needs a display; window tests run offscreen anyway.
xvfb_pid=""
xvfb_log=""
pg_dir=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$xvfb_log" ] && rm -f "$xvfb_log"
    if [ -n "$pg_dir" ]; then
        "$top/tools/test-postgres.sh" stop "$pg_dir"
        rm -rf "$pg_dir"
    fi
    true
}
trap cleanup EXIT
# Xvfb counts as started when its socket is there while it still runs; one that ends (another
# server took the number meanwhile) makes way for the next free number.
start_xvfb() {
    Xvfb ":$1" -screen 0 1280x1024x24 -nolisten tcp >"$xvfb_log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        kill -0 "$xvfb_pid" 2>/dev/null || break
        [ -S "/tmp/.X11-unix/X$1" ] && return 0
        sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    return 1
}
if [ -z "${DISPLAY:-}" ]; then
    if ! command -v Xvfb >/dev/null; then
        echo "test.sh: no DISPLAY and no Xvfb (package xvfb) to provide one" >&2
        exit 1
    fi
    xvfb_log=$(mktemp)
    tried=0
    for n in $(seq 91 120); do
        { [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; } && continue
        tried=$((tried + 1))
        if start_xvfb "$n"; then
            export DISPLAY=":$n"
            break
        fi
    done
    if [ -z "${DISPLAY:-}" ]; then
        if [ "$tried" -eq 0 ]; then
            echo "test.sh: no free display number from :91 to :120 (each has a socket in" \
                "/tmp/.X11-unix or a lock /tmp/.X<n>-lock); end a stale X server or set DISPLAY" >&2
        else
            echo "test.sh: Xvfb did not start on any of the $tried free display numbers from :91" \
                "to :120; its last output:" >&2
            cat "$xvfb_log" >&2
        fi
        exit 1
    fi
fi

# The team library's tests talk to a real PostgreSQL: a private cluster, stopped at exit.
pg_dir=$(mktemp -d)
KV_TEST_POSTGRES=$("$top/tools/test-postgres.sh" start "$pg_dir")
export KV_TEST_POSTGRES

ctest --test-dir "$build" --output-on-failure --timeout 600 -j2
