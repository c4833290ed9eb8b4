# Checks used by install-test.sh and scripts/screenshot.sh (sourced; they set the variables
# named here).

passes=0
failures=0
pass() {
    echo "PASS: $*"
    passes=$((passes + 1))
}
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Polls instead of sleeping a fixed time: the program, Xvfb and dpkg take as long as they take.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# Another session's apt or dpkg may hold the lock for a while.
dpkg_locked() {
    local deadline=$((SECONDS + 300))
    until "$@" >"$work/dpkg.log" 2>&1; do
        if ! grep -q "lock" "$work/dpkg.log" || ((SECONDS > deadline)); then
            cat "$work/dpkg.log"
            return 1
        fi
        sleep 2
    done
}

check_installed_rights() {
    local rights caps
    rights=$(stat -c '%U:%G %a' "$program")
    [ "$rights" = "root:root 755" ] && pass "$program is root:root 0755: anyone may start it" ||
        fail "$program is $rights, not root:root 755"
    caps=$(getcap "$program")
    [ -z "$caps" ] && pass "$program holds no capability" || fail "$program holds '$caps'"
    rights=$(stat -c '%U:%G %a' "$helper")
    [ "$rights" = "root:$group 750" ] && pass "$helper is root:$group 0750" ||
        fail "$helper is $rights, not root:$group 750"
    caps=$(getcap "$helper")
    [ "$caps" = "$helper cap_net_raw=p" ] && pass "$helper holds cap_net_raw alone, permitted only" ||
        fail "$helper capabilities: '$caps'"
    if [ "$(getent group "$group" | cut -d: -f3)" -lt 1000 ]; then
        pass "$group is a system group"
    else
        fail "$group is missing or not a system group"
    fi
}

check_nothing_left() {
    local left=0 f
    if dpkg-query -W "$package" >/dev/null 2>&1; then
        echo "LEFT: dpkg still knows $package"
        left=1
    fi
    if getent group "$group" >/dev/null; then
        echo "LEFT: group $group"
        left=1
    fi
    if dpkg-statoverride --list "$helper" >/dev/null; then
        echo "LEFT: $(dpkg-statoverride --list "$helper")"
        left=1
    fi
    while read -r f; do
        if [ -e "$f" ] && [ ! -d "$f" ]; then
            echo "LEFT: $f"
            left=1
        fi
    done <"$work/files"
    if ((left)); then
        fail "the package left files or settings behind"
        return 1
    fi
    pass "nothing of the package is left after dpkg --purge"
}

gone() { [ ! -e "/proc/$1" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat")" = Z ]; }

# Once a process is gone its id may be reused: it must not be killed at the end.
forget_pid() {
    local keep=() pid
    for pid in "${pids[@]}"; do
        [ "$pid" = "$1" ] || keep+=("$pid")
    done
    pids=("${keep[@]}")
}

# Ends the processes started here, by their ids, newest first.
stop_processes() {
    local i pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait_until 10 gone "$pid" || echo "process $pid does not end"
    done
    wait
}

in_ns() { ip netns exec "$netns" "$@"; }
x() { in_ns env DISPLAY="$display" xdotool "$@"; }

# Prints the visible windows whose title matches the pattern, one id a line.
windows() { x search --onlyvisible --name "$1" 2>/dev/null || true; }
window_count_is() { [ "$(windows "$1" | wc -l)" -eq "$2" ]; }
geometry() { x getwindowgeometry --shell "$1" | sed -n "s/^$2=//p"; }

# The adapter of the capture helper's socket, as an interface index (none while stopped).
capture_interface() {
    awk -v uid="$(id -u "$member")" 'NR > 1 && $8 == uid { print $5 }' "/proc/$program_pid/net/packet"
}
helper_pid() { pgrep -P "$program_pid" -x kintosniffer-ca; }
capturing() { [ -n "$(capture_interface)" ]; }
not_capturing() { [ -z "$(capture_interface)" ]; }

# Debian's own checker on the package file: any error or warning fails. As root lintian first
# notes that it would rather not run as root; that note is no finding.
check_lintian() {
    local deb=$1 output status=0
    if ! command -v lintian >/dev/null; then
        fail "lintian is not installed (scripts/setup.sh installs it)"
        return
    fi
    output=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
    if ((status == 0)) && ! grep -qE '^[EW]: ' <<<"$output"; then
        pass "lintian reports no error or warning"
    else
        fail "lintian (exit status $status): $output"
    fi
}
