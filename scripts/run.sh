#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts Kinto Sniffer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec "${KINTO_BUILD_DIR:-build}/src/app/kintosniffer"
