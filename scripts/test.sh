#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd "${KINTO_BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
