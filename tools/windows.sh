#!/usr/bin/env bash
# The Windows program, cross-built here: the libraries once per machine (tools/windows-deps.sh,
# cached outside the work tree), then kv9000.exe and the Windows unit tests in build-windows,
# the zip for users, and (unless KV_WINDOWS_CHECK=0) the tests under Wine
# (tools/windows-check.sh). The Linux build is not touched.
#   KV_WINDOWS_BUILD_DIR  build folder (default: build-windows)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_WINDOWS_BUILD_DIR:-$top/build-windows}

prefix=$("$top/tools/windows-deps.sh" | tail -1)
echo "Windows libraries: $prefix"

# A build folder configured against other libraries (their flags changed) starts afresh: CMake
# keeps the package folders it found.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qxF "Qt6_DIR:PATH=$prefix/lib/cmake/Qt6" \
    "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
start=$(date +%s)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DKV_BUILD_TESTS=ON -DKV_BUILD_BENCH=OFF \
    -DKV_CHARTS=ON -DKV_LIBRARY=ON \
    "${launcher[@]}"
nice cmake --build "$build" -j"$(( $(nproc) > 8 ? 8 : $(nproc) ))"
echo "Windows build: $(($(date +%s) - start)) s"

# The zip for users: the program, its console launcher, the Russian README and the licence, in a
# folder of its name.
version=$(sed -n 's/^#define KV_VERSION "\(.*\)"$/\1/p' "$build/cli/generated/Version.h")
name=kv9000-$version-windows-x64
stage=$build/zip/$name
rm -rf "$build/zip" && mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/kv9000.exe" "$build/bin/kv9000.exe"
# The console launcher: "kv9000" typed at a command prompt runs it before kv9000.exe.
x86_64-w64-mingw32-strip -o "$stage/kv9000.com" "$build/bin/kv9000.com"
# Windows readers expect CR LF line ends.
sed 's/$/\r/' "$top/packaging/windows/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$top/LICENSE" >"$stage/LICENSE.txt"
(cd "$build/zip" && zip -qr "$build/$name.zip" "$name")
echo "Zip: $build/$name.zip ($(stat -c %s "$stage/kv9000.exe") bytes of program)"

if [ "${KV_WINDOWS_CHECK:-1}" != 0 ]; then
    "$top/tools/windows-check.sh" "$build"
fi
