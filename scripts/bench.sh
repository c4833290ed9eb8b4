#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the benchmarks: the decoder
# micro-benchmark, then the capture benchmark (1,000,000 datagrams through the main window on
# the loopback adapter, then through tcpdump). Capturing needs root; arguments go to
# kinto_capturebench (--count N, --long, --json FILE, --no-tcpdump, --x11). --long is one
# capture of 10,000,000 datagrams: the first million against the last, then Save Log and
# Clear List of all of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KINTO_BUILD_DIR:-build}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

"$build/bench/kinto_decoderbench" --benchmark_min_time=0.5
$sudo "$build/bench/kinto_capturebench" --json "$build/capturebench.json" "$@"
echo "figures also in $build/capturebench.json"
