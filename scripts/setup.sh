#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need (only those missing),
# then configures and builds in Release. Quick when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake pkg-config   # toolchain
    qt6-base-dev libpcap-dev           # Qt 6 Widgets and Test, libpcap
    fonts-liberation                   # metric-compatible Arial and Courier New
    libbenchmark-dev                   # micro-benchmarks
    clang libclang-rt-14-dev           # libFuzzer targets (scripts/fuzz.sh)
    iproute2 util-linux tcpdump        # test and benchmark helpers (namespaces, setpriv, reference)
    desktop-file-utils appstream       # validators for the menu entry and the AppStream metainfo
    file groff-base                    # install-tree checks (icon sizes, manual page)
    dpkg-dev                           # the Debian package (dpkg-shlibdeps)
    lintian                            # Debian's own checks of the package (install test)
    xvfb xdotool libcap2-bin passwd    # install test (a desktop, a person's input, getcap, useradd)
    dbus-daemon procps                 # install test (each session's own bus, the users' processes)
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# scripts/package.sh and the install test want the packages only; they build on their own.
[ "${KINTO_SETUP_ONLY:-0}" = 1 ] && exit 0

build=${KINTO_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
