#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts Kinto Sniffer.
#
# The window never holds a right to capture; the capture helper beside it
# (build/libexec/kintosniffer/kintosniffer-capture) needs cap_net_raw, permitted only ("=p"): it
# raises it just to open the adapter. Root runs it as it is (the helper then leaves uid 0 once
# the adapter is open); anyone else is asked once per build, through sudo, to grant the helper
# that one capability.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${KINTO_BUILD_DIR:-build}
helper=$build/libexec/kintosniffer/kintosniffer-capture

getcap=$(command -v getcap || echo /usr/sbin/getcap)
if [ "$(id -u)" -ne 0 ] && ! "$getcap" "$helper" 2>/dev/null | grep -q 'cap_net_raw=p$'; then
    # Only you may run the helper once it can capture: other users of this machine gain nothing.
    chmod 0700 "$helper"
    echo "Capturing needs the capability cap_net_raw on the capture helper $helper."
    echo "Granting it with: sudo setcap cap_net_raw=p $helper"
    sudo setcap cap_net_raw=p "$helper" ||
        echo "Not granted: Kinto Sniffer starts, but it will say that it cannot capture." >&2
fi
exec "$build/bin/kintosniffer"
