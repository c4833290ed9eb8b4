#!/usr/bin/env bash
# Installs the Debian package on this machine and checks what it promises: the window holds no
# right at all, the capture helper holds cap_net_raw alone (permitted only, raised just to open
# the adapter) and only for the group kintosniffer, and opens network adapters only;
# a member captures without root, a plugin slipped into the window finds nothing to abuse, a
# killed window leaves no helper, anyone else is told how to join the group, and removing the
# package leaves nothing behind. Run as root:
#   bash tests/package/install-test.sh
#
# The member's session (Xvfb, the program, the datagrams) runs in a network namespace of its own
# with only a loopback adapter: the datagrams to 127.0.0.1:4111 meet no other program's traffic
# on that port, and the program's adapter list is short. The program is driven with xdotool as a
# person would; the capture is checked through the program's own capture log (File > Save Log).
set -euo pipefail
cd "$(dirname "$0")/../.."
here=tests/package

if [ "$(id -u)" -ne 0 ]; then
    echo "install-test: run as root" >&2
    exit 2
fi

package=kintosniffer
group=kintosniffer
program=/usr/bin/kintosniffer
helper=/usr/libexec/kintosniffer/kintosniffer-capture
member=kintotest-member
outsider=kintotest-outsider
netns=kintotest-$$
datagrams=5
payload_prefix='***[kinto install test '

work=$(mktemp -d /tmp/kinto-install-test.XXXXXX)
chmod 755 "$work"

source "$here/install-test-lib.sh"
source "$here/install-test-users.sh"
source "$here/install-test-capture.sh"

# A user left by an earlier run that was killed carries the test's mark and is removed; any
# other user of that name is someone's and stops the test.
for user in "$member" "$outsider"; do
    if id "$user" >/dev/null 2>&1; then
        if ! marked_test_user "$user"; then
            echo "install-test: user $user exists and was not made by this test; remove it first" >&2
            rm -rf "$work"
            exit 2
        fi
        echo "install-test: removing $user, left by an earlier run"
        remove_test_user "$user" || {
            rm -rf "$work"
            exit 2
        }
    fi
done
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "install-test: $package is installed already; it is not replaced by a test" >&2
    rm -rf "$work"
    exit 2
fi

installed=0
created_users=()
pids=()

cleanup() {
    local rc=$?
    set +e
    stop_processes
    ip netns del "$netns" 2>/dev/null
    for user in "${created_users[@]}"; do
        remove_test_user "$user" || rc=1
    done
    if ((installed)); then
        dpkg --purge "$package" >"$work/purge.log" 2>&1 || cat "$work/purge.log"
        check_nothing_left || rc=1
    fi
    rm -rf "$work"
    ((rc == 0 && failures == 0)) || rc=1
    echo "install-test: $((passes)) passed, $failures failed"
    exit "$rc"
}
trap cleanup EXIT

echo "== building the package"
deb=$(bash scripts/package.sh | tail -n 1)
echo "$deb"
check_lintian "$deb"

echo "== installing"
dpkg_locked dpkg --install "$deb"
installed=1
dpkg-query -L "$package" | sort >"$work/files"

check_installed_rights

for user in "$member" "$outsider"; do
    useradd --create-home --home-dir "$work/$user" --shell /bin/sh --comment "$test_user_mark" \
        "$user"
    created_users+=("$user")
done
usermod --append --groups "$group" "$member"

check_member_captures
check_member_refused_non_network
check_plugin_and_kill
check_outsider_told_about_group
