#!/usr/bin/env bash
# Installs the Windows cross tools and Wine, then cross-builds once per machine the libraries the
# Windows program links statically: SQLite from Debian's source (Qt's SQL driver uses it), Qt
# (Core, Gui, Widgets, PrintSupport, Sql, and Network without TLS for device servers) from
# Debian's qtbase source, the PostgreSQL client library (without TLS) from Debian's postgresql-15
# source and Qt's PostgreSQL driver built against it, QCustomPlot and libxlsxwriter from Debian's sources (zlib from Debian's
# MinGW package), GoogleTest from the source libgtest-dev ships. Everything lands in a cache outside the work tree, in a folder keyed
# on the versions and the configure flags, so a change of flags builds anew beside the old one.
# Prints the cache folder (the prefix to give CMake) as its last line.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache_root=${KV_WINDOWS_CACHE:-/var/cache/kv9000-windows}
# The libraries are built before anything else runs: every core, at most eight (memory).
jobs=${KV_WINDOWS_JOBS:-$(( $(nproc) > 8 ? 8 : $(nproc) ))}
qt_version=6.4.2
host_cmake_dir=/usr/lib/x86_64-linux-gnu/cmake

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# --- Tools -------------------------------------------------------------------------------------
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
          libz-mingw-w64-dev wine64 wine libwine-dev dpkg-dev zip
          qt6-base-dev qt6-base-dev-tools libgtest-dev libsimpleini-dev cmake ninja-build
          qt6-translations-l10n # the toolkit's Russian texts, built into the program
          tcl # SQLite's one-file source is made by its Tcl scripts
          poppler-utils # the Wine check reads the visit report back
          ser2net # and reads a controller through a device server
          postgresql-15 libqt6sql6-psql) # and shares the team library with a Linux collector
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends \
        "${missing[@]}" >&2
fi

# Debian's sources for qtbase and libxlsxwriter: a deb-src entry made from the machine's own
# entry for the release's main suite (its URIs and keyring), so it follows whatever mirror the
# machine uses.
src_list=/etc/apt/sources.list.d/kv9000-windows-src.sources
if [ ! -f "$src_list" ]; then
    entry=$("$here/debian-src-entry.sh")
    printf '%s\n' "$entry" | $sudo tee "$src_list" >/dev/null
    $sudo apt-get update >&2
fi

# --- Cache key ---------------------------------------------------------------------------------
toolchain_text=$(cat <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
)
qt_flags=(-xplatform win32-g++ -static -static-runtime -release -opensource -confirm-license
          -qt-host-path /usr -nomake examples -nomake tests
          -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -no-opengl
          -sql-sqlite -system-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-ibase
          -no-sql-oci -no-sql-db2 -no-feature-ssl -no-feature-schannel -no-feature-testlib
          -no-feature-dbus -no-feature-concurrent -no-feature-xml -no-feature-vulkan
          -no-feature-direct2d1_1 -no-feature-tuiotouch
          )
# The last line leaves out two plugins the program never loads (the Direct2D platform, a tenth
# of Qt's build, and TUIO touch input); the Windows platform keeps its DirectWrite fonts.
# libxlsxwriter keeps its own temporary files in the user's temporary folder (the C library's
# tmpfile() would try the root of the drive).
xlsx_flags=(-DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_SHARED_LIBS=OFF)
# SQLite is built into Qt's SQL driver, so its version and flags are part of Qt's key.
sqlite_version=$(apt-cache showsrc sqlite3 | sed -n 's/^Version: \(3\.40\.[^ ]*\)$/\1/p' | head -1)
sqlite_flags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA)
# QCustomPlot's own build makes a shared library; here it is built static like everything else.
qcp_flags=(-DBUILD_SHARED_LIBS=OFF -DCMAKE_CXX_FLAGS=-DQT_STATIC_BUILD)
# The PostgreSQL client library: only libpq and the parts of src/common and src/port it uses,
# without TLS (no --with-ssl: a server string asking for TLS is refused by the program), keyed on
# its own so that a change here leaves Qt's build alone.
pg_version=$(apt-cache showsrc postgresql-15 | sed -n 's/^Version: \(15\.[^ ]*\)$/\1/p' | head -1)
pg_flags=(--without-readline --without-zlib --without-icu --without-ldap --without-gssapi
          --disable-nls --without-perl --without-python --without-tcl)
# Qt's PostgreSQL driver, built on its own from qtbase's sqldrivers against the installed Qt.
qpsql_flags=(-DFEATURE_sql_psql=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_odbc=OFF
             -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF
             -DFEATURE_sql_db2=OFF)
hash() { printf '%s\n' "$@" | sha256sum | cut -c1-12; }
qt_key=$(hash "$qt_version" "${qt_flags[*]}" "$toolchain_text" "$(cat "$here/windows-wintab.h")" \
    "$sqlite_version" "${sqlite_flags[*]}")
pg_key=$(hash "$pg_version" "${pg_flags[*]}" "$toolchain_text")
qpsql_key=$(hash "$qt_key" "$pg_key" "${qpsql_flags[*]}")
key=$(hash "$qt_key" "${xlsx_flags[*]}" "$(cat /usr/src/googletest/CMakeLists.txt)" \
    "${qcp_flags[*]}" "$qpsql_key")
prefix=$cache_root/qt-$qt_version-$key
work=$cache_root/work

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

$sudo mkdir -p "$prefix" "$work"
[ -n "$sudo" ] && $sudo chown "$(id -u):$(id -g)" "$prefix" "$work"
printf '%s\n' "$toolchain_text" >"$prefix/toolchain.cmake"

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_DIR=$cache_root/ccache CCACHE_BASEDIR=$cache_root
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cd "$work"

# --- SQLite ------------------------------------------------------------------------------------
# Debian's qtbase source leaves out the copy of SQLite Qt bundles, so Qt's driver is built against
# this one: the one-file source made from Debian's sqlite3 source on the host, compiled for
# Windows into a static library keyed with Qt.
sqlite=sqlite-$qt_key
if [ ! -f "$sqlite/lib/libsqlite3.a" ]; then
    rm -rf sqlite-src "$sqlite" && mkdir -p sqlite-src/tree sqlite-src/host "$sqlite/include" "$sqlite/lib"
    (cd sqlite-src && apt-get source --download-only sqlite3="$sqlite_version" >&2)
    tar -xf sqlite-src/sqlite3_*.orig.tar.xz -C sqlite-src/tree --strip-components=1
    (cd sqlite-src/host && ../tree/configure --disable-tcl >&2 && make sqlite3.c >&2)
    nice x86_64-w64-mingw32-gcc-posix "${sqlite_flags[@]}" -c sqlite-src/host/sqlite3.c \
        -o sqlite-src/sqlite3.o
    x86_64-w64-mingw32-ar rcs "$sqlite/lib/libsqlite3.a" sqlite-src/sqlite3.o
    cp sqlite-src/host/sqlite3.h sqlite-src/host/sqlite3ext.h "$sqlite/include/"
fi
# Programs that link Qt's driver find SQLite in the prefix.
mkdir -p "$prefix/include" "$prefix/lib"
cp "$sqlite"/include/*.h "$prefix/include/"
cp "$sqlite/lib/libsqlite3.a" "$prefix/lib/"

# --- Qt ----------------------------------------------------------------------------------------
if [ ! -d qtbase ]; then
    rm -rf qt-src && mkdir qt-src
    (cd qt-src && apt-get source --download-only qt6-base="$(apt-cache showsrc qt6-base |
        sed -n 's/^Version: \(6\.4\.2[^ ]*\)$/\1/p' | head -1)" >&2)
    tar -xf qt-src/qt6-base_"$qt_version"*.orig.tar.* -C qt-src
    mv qt-src/qtbase-everywhere-src-"$qt_version" qtbase
fi
# Debian's source leaves out the tablet interface headers the Windows platform plugin includes;
# Wine's headers of the same interface stand in (copied on every run: the stand-in is part of
# Qt's key).
mkdir -p qtbase/src/3rdparty/wintab
cp "$here/windows-wintab.h" qtbase/src/3rdparty/wintab/wintab.h
cp /usr/include/wine/wine/windows/wintab.h qtbase/src/3rdparty/wintab/wine-wintab.h
cp /usr/include/wine/wine/windows/pktdef.h qtbase/src/3rdparty/wintab/pktdef.h
# Qt's build is keyed on Qt alone, so another change of the libraries below does not rebuild it;
# its installed tree is relocatable and goes into the prefix.
qt_build=qt-build-$qt_key
mkdir -p "$qt_build"
cp "$prefix/toolchain.cmake" "$qt_build.toolchain.cmake"
if [ ! -f "$qt_build/.built" ]; then
    (cd "$qt_build" && ../qtbase/configure -prefix "$prefix" "${qt_flags[@]}" -- \
        -DCMAKE_TOOLCHAIN_FILE="$work/$qt_build.toolchain.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" "${launcher[@]}" \
        -DSQLite3_INCLUDE_DIR="$work/$sqlite/include" \
        -DSQLite3_LIBRARY="$work/$sqlite/lib/libsqlite3.a" >&2)
    nice cmake --build "$qt_build" --parallel "$jobs" >&2
    touch "$qt_build/.built"
fi
cmake --install "$qt_build" --prefix "$prefix" >&2

# --- libpq -------------------------------------------------------------------------------------
# PostgreSQL's own build makes libpq a DLL for Windows; here its objects and the members of
# libpgcommon and libpgport they use are linked into one object that keeps only libpq's exported
# functions global (its own pthread, getopt and the like stay private), archived as a static
# libpq. The source is Debian's upstream tarball; Debian's patches concern the server's layout
# on Debian.
libpq=libpq-$pg_key
if [ ! -f "$libpq/lib/libpq.a" ]; then
    pg_start=$(date +%s)
    rm -rf pg-src pg-build "$libpq" && mkdir -p pg-src pg-build "$libpq/include" "$libpq/lib"
    (cd pg-src && apt-get source --download-only postgresql-15="$pg_version" >&2)
    tar -xf pg-src/postgresql-15_*.orig.tar.* -C pg-src
    pg_tree=$(find "$work/pg-src" -mindepth 1 -maxdepth 1 -type d -name 'postgresql-15*')
    (cd pg-build && "$pg_tree/configure" --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
        AR=x86_64-w64-mingw32-ar RANLIB=x86_64-w64-mingw32-ranlib "${pg_flags[@]}" >&2)
    nice make -C pg-build/src/interfaces/libpq -j"$jobs" >&2
    # Every object of the libpq folder but the DLL's version resource.
    pq_objects=$(cd pg-build/src/interfaces/libpq && ls ./*.o | grep -v '/win32ver\.o$')
    (cd pg-build/src/interfaces/libpq && x86_64-w64-mingw32-ld -r -o "$work/pg-build/pq-all.o" \
        $pq_objects ../../common/libpgcommon_shlib.a ../../port/libpgport_shlib.a)
    sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]].*/\1/p' \
        "$pg_tree/src/interfaces/libpq/exports.txt" >pg-build/exports.list
    x86_64-w64-mingw32-objcopy --keep-global-symbols=pg-build/exports.list pg-build/pq-all.o \
        pg-build/pq.o
    x86_64-w64-mingw32-ar rcs "$libpq/lib/libpq.a" pg-build/pq.o
    cp "$pg_tree"/src/interfaces/libpq/{libpq-fe.h,libpq-events.h} \
        "$pg_tree"/src/include/{postgres_ext.h,pg_config_manual.h} \
        pg-build/src/include/{pg_config.h,pg_config_ext.h,pg_config_os.h} "$libpq/include/"
    echo "libpq: $(($(date +%s) - pg_start)) s" >&2
fi
mkdir -p "$prefix/include/postgresql"
cp "$libpq"/include/*.h "$prefix/include/postgresql/"
cp "$libpq/lib/libpq.a" "$prefix/lib/"

# --- Qt's PostgreSQL driver --------------------------------------------------------------------
# A standalone build of qtbase's SQL drivers with only the PostgreSQL one, against the Qt just
# installed: a static plugin the program imports. Its build is kept under its own key and
# installed into every prefix made from it.
qpsql=qpsql-build-$qpsql_key
if [ ! -f "$qpsql/.built" ]; then
    qpsql_start=$(date +%s)
    rm -rf "$qpsql"
    cmake -S qtbase/src/plugins/sqldrivers -B "$qpsql" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_PREFIX_PATH="$prefix" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
        -DPostgreSQL_INCLUDE_DIR="$prefix/include/postgresql" \
        -DPostgreSQL_LIBRARY="$prefix/lib/libpq.a" "${qpsql_flags[@]}" "${launcher[@]}" >&2
    nice cmake --build "$qpsql" --parallel "$jobs" >&2
    touch "$qpsql/.built"
    echo "Qt's PostgreSQL driver: $(($(date +%s) - qpsql_start)) s" >&2
fi
cmake --install "$qpsql" --prefix "$prefix" >&2

# --- QCustomPlot --------------------------------------------------------------------------------
if [ ! -d qcp ]; then
    rm -rf qcp-src && mkdir qcp-src
    (cd qcp-src && apt-get source --download-only qcustomplot >&2)
    mkdir qcp
    tar -xf qcp-src/qcustomplot_*.orig.tar.* -C qcp --strip-components=1
    tar -xf qcp-src/qcustomplot_*.debian.tar.* -C qcp
    # Debian's patches add the CMake build and its package files.
    while read -r patch; do
        patch -d qcp -p1 <"qcp/debian/patches/$patch" >&2
    done <qcp/debian/patches/series
    # Debian's build names the library shared; static here, like everything else.
    sed -i 's/add_library(${LIB_NAME} SHARED/add_library(${LIB_NAME}/' qcp/CMakeLists.txt
fi
rm -rf qcp-build
cmake -S qcp -B qcp-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_PREFIX_PATH="$prefix" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake_dir" \
    -DUSE_QT_VERSION=6 "${qcp_flags[@]}" "${launcher[@]}" >&2
nice cmake --build qcp-build --parallel "$jobs" >&2
cmake --install qcp-build >&2

# --- libxlsxwriter -----------------------------------------------------------------------------
if [ ! -d xlsx ]; then
    rm -rf xlsx-src && mkdir xlsx-src
    (cd xlsx-src && apt-get source --download-only libxlsxwriter >&2)
    mkdir xlsx
    tar -xf xlsx-src/libxlsxwriter_*.orig.tar.* -C xlsx --strip-components=1
fi
rm -rf xlsx-build
cmake -S xlsx -B xlsx-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${xlsx_flags[@]}" "${launcher[@]}" >&2
nice cmake --build xlsx-build --parallel "$jobs" >&2
cmake --install xlsx-build >&2

# --- GoogleTest and SimpleIni ------------------------------------------------------------------
rm -rf gtest-build
cmake -S /usr/src/googletest -B gtest-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=OFF "${launcher[@]}" >&2
nice cmake --build gtest-build --parallel "$jobs" >&2
cmake --install gtest-build >&2
cp /usr/include/SimpleIni.h "$prefix/include/"
[ -f /usr/include/ConvertUTF.h ] && cp /usr/include/ConvertUTF.h "$prefix/include/"

touch "$prefix/.complete"
echo "$prefix"
