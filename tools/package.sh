#!/usr/bin/env bash
# Builds the Debian package kv9000_<version>_amd64.deb: a Release build of its own, in the
# installed layout (settings in the user's configuration folder, the Calc module under
# /usr/lib/<triplet>/kv9000), with Debian's build flags, packed by CPack. Prints the package's path.
#   KV_PACKAGE_BUILD_DIR  build folder (default: build-package)
#   KV_CMAKE_ARGS         extra arguments for cmake (for example a compiler launcher)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_PACKAGE_BUILD_DIR:-$top/build-package}

"$top/tools/install-deps.sh" >&2

# The same sources give the same package: dates in it come from the last commit.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null || date +%s)
    export SOURCE_DATE_EPOCH
fi

# Debian's flags for packaged programs (hardening: stack protector, fortify, relro, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

rm -f "$build"/kv9000_*.deb
# A compiler cache where the machine has one (as in test.sh).
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$top"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# shellcheck disable=SC2086
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKV_INSTALLED_LAYOUT=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" \
    "${launcher[@]}" ${KV_CMAKE_ARGS:-} >&2
cmake --build "$build" -j"$(nproc)" >&2
(cd "$build" && cpack -G DEB >&2)
ls "$build"/kv9000_*_amd64.deb
