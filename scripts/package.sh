#!/usr/bin/env bash
# Builds the Debian package kintosniffer_<version>_<arch>.deb: installs what is missing, builds
# the program alone (no tests, no benchmarks) in Release and packs it with CPack.
# Prints the path of the package on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

KINTO_SETUP_ONLY=1 bash scripts/setup.sh

build=${KINTO_PACKAGE_BUILD_DIR:-build-package}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKINTO_BUILD_TESTS=OFF -DKINTO_BUILD_BENCH=OFF \
    >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/kintosniffer_*.deb
if ! (cd "$build" && cpack -G DEB >cpack.log 2>&1); then
    cat "$build/cpack.log" >&2
    exit 1
fi
ls "$PWD/$build"/kintosniffer_*.deb
