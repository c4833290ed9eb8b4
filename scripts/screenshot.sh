#!/usr/bin/env bash
# Takes docs/screenshots/main-window.png (README, AppStream metainfo) from the real program under
# Xvfb, after it has captured a few messages of each type on the loopback adapter. Run as root
# after a build; the session runs in a network namespace of its own, as in the install test.
#   bash scripts/screenshot.sh [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
here=tests/package

if [ "$(id -u)" -ne 0 ]; then
    echo "screenshot: run as root" >&2
    exit 2
fi
KINTO_SETUP_ONLY=1 bash scripts/setup.sh
command -v import >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq imagemagick

program=$(realpath "${1:-${KINTO_BUILD_DIR:-build}/bin/kintosniffer}")
member=root
netns=kintoshot-$$
out=docs/screenshots/main-window.png
pids=()
work=$(mktemp -d /tmp/kinto-screenshot.XXXXXX)
chmod 755 "$work"

source "$here/install-test-lib.sh"
source "$here/install-test-capture.sh"

cleanup() {
    stop_processes
    ip netns del "$netns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# One message of each type; 0xDA is the messages' line break.
messages=(
    '***[Station 12 ready on 4111]'
    '**-[Operator desk 3: here]'
    $'UUU[Seats 25, expires 2027-06-30]'
    $'msg[Lunch at noon\xdabring the slides]'
    '-**[Operator desk 3: gone]'
    '***[Station 14 ready on 4111]'
)

start_session
dismiss_adapter_question
choose_loopback
for message in "${messages[@]}"; do
    in_ns bash -c 'printf "%s" "$1" >/dev/udp/127.0.0.1/4111' - "$message"
done
csv=$work/logs/capture.csv
datagrams=${#messages[@]}
save_all_rows || {
    echo "screenshot: the messages did not all arrive" >&2
    exit 1
}
mkdir -p "$(dirname "$out")"
x windowfocus --sync "$main"
in_ns env DISPLAY="$display" import -window "$main" "$out"
exit_program
echo "$out"
((failures == 0))
