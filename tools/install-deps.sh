#!/usr/bin/env bash
# Installs the Debian 12 packages the program, its tests and its demo need, when any is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    # a compiler cache: rebuilds of other checkouts and build folders reuse what was compiled
    ccache
    qt6-base-dev qt6-serialport-dev qt6-5compat-dev
    # the toolkit's Russian texts, built into the program
    qt6-translations-l10n
    libxlsxwriter-dev libsimpleini-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libreoffice-dev libreoffice-calc
    xvfb xauth python3 fonts-dejavu-core fonts-liberation2 clang-format
    # the visit report read back in its tests
    poppler-utils
    # fuzzing (libFuzzer is clang's runtime)
    clang libclang-rt-14-dev
    # charts
    libqcustomplot-dev
    # the library of every visit: its index (SQLite) and the team library (PostgreSQL, whose
    # tests start a private server; the server string is read by its client library)
    libqt6sql6-sqlite libqt6sql6-psql libpq-dev postgresql-15
    # packaging: CPack's dependency search reads file types; the icon's sizes are rendered
    file librsvg2-bin
    # controllers behind a serial device server: the tests serve the simulator through one
    ser2net
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
