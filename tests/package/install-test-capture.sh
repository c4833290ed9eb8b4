# The member's capture session of install-test.sh (sourced after install-test-lib.sh).

# Starts a command in the namespace and records its id: "ip netns exec" runs it as a child of
# its own, which a kill of the ip process would leave running.
spawn_in_ns() {
    local pidfile=$1
    shift
    rm -f "$pidfile"
    in_ns sh -c 'echo $$ >"$0" && exec "$@"' "$pidfile" "$@" &
    pids+=($!)
    wait_until 10 test -s "$pidfile" || return 1
    spawned=$(cat "$pidfile")
    pids+=("$spawned")
}

# A network namespace with only a loopback adapter, and a display in it.
start_display() {
    ip netns add "$netns"
    in_ns ip link set lo up
    spawn_in_ns "$work/xvfb.pid" Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 \
        3>"$work/display" >"$work/xvfb.log" 2>&1
    wait_until 30 test -s "$work/display" || {
        fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        return 1
    }
    display=:$(head -n 1 "$work/display")
}

# Starts the installed program as the given user on that display; more arguments are settings
# of its environment (NAME=VALUE). The program runs under a session bus of its own, as on a
# desktop: without one, a machine with dbus-x11 starts a bus for it that outlives it.
start_program() {
    local user=$1
    shift
    # Qt's run-time directory goes with the test's files, not to /tmp/runtime-USER.
    mkdir -p -m 700 "$work/logs" "$work/runtime-$user"
    chown "$user:" "$work/runtime-$user"
    chown "$member:" "$work/logs"
    log=$work/program-$user.log
    spawn_in_ns "$work/session.pid" runuser -u "$user" -- env DISPLAY="$display" \
        XDG_RUNTIME_DIR="$work/runtime-$user" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 "$@" \
        dbus-run-session -- "$program" >"$log" 2>&1 </dev/null
    session_pids=("${pids[@]: -2}")
}

start_session() {
    start_display && start_program "$member"
}

# Without an adapter chosen at start-up the program asks for one first.
dismiss_adapter_question() {
    wait_until 60 window_count_is '^Kinto Sniffer$' 2 || {
        fail "no main window and question 'Select adapter from list': $(cat "$log")"
        return 1
    }
    local a b
    read -r a b < <(windows '^Kinto Sniffer$' | xargs)
    if (($(geometry "$a" HEIGHT) < $(geometry "$b" HEIGHT))); then
        question=$a main=$b
    else
        question=$b main=$a
    fi
    program_pid=$(x getwindowpid "$main")
    pids+=("$program_pid")
    x windowfocus --sync "$question" key Return
    wait_until 30 window_count_is '^Kinto Sniffer$' 1 || fail "the question stays open"
}

# Walks the adapter drop-down from its first entry, starting capture on each, until the
# program's capture socket is bound to the loopback adapter.
choose_loopback() {
    local lo entry iface
    lo=$(in_ns cat /sys/class/net/lo/ifindex)
    # Click into the drop-down's text field (44 px above the window's bottom edge).
    x windowfocus --sync "$main" mousemove --window "$main" 200 $(($(geometry "$main" HEIGHT) - 44)) \
        click 1
    x key Down Up Up Up Up Up Up Up Up Up Up
    for entry in 1 2 3 4 5 6 7 8; do
        x key ctrl+g
        wait_until 30 capturing || {
            fail "Start (Ctrl+G) opened no capture on entry $entry: $(cat "$log")"
            return 1
        }
        iface=$(capture_interface)
        if [ "$iface" = "$lo" ]; then
            pass "captures on the loopback adapter (entry $entry of the drop-down)"
            return 0
        fi
        x key Down # choosing another entry stops the capture
        wait_until 30 not_capturing || return 1
    done
    fail "no entry of the drop-down captures on the loopback adapter"
    return 1
}

send_datagrams() {
    local i
    for ((i = 1; i <= datagrams; i++)); do
        in_ns bash -c 'printf "%s" "$1" >/dev/udp/127.0.0.1/4111' - "$payload_prefix$i]"
    done
}

# The program's visible windows, its menus' pop-ups included.
program_windows() { x search --onlyvisible --pid "$program_pid" 2>/dev/null | wc -l; }
more_program_windows() { (($(program_windows) > $1)); }

# Opens the File menu and chooses its first item below the top (up from the top: its last)
# once the menu is seen open: keys sent before it opens would go to the window.
file_menu() {
    local before
    before=$(program_windows)
    x windowfocus --sync "$main" mousemove --window "$main" 20 10 click 1
    wait_until 30 more_program_windows "$before" || return 1
    x key "$1" Return
}

dialog_closed() { window_count_is '^Save log as \.\.\.' 0; }

# File > Save Log into the member's own directory; false while the list is still empty (the
# program then asks nothing). Each step waits for what it needs, generously for a cold machine.
save_log() {
    file_menu Down || return 1
    if ! wait_until 30 window_count_is '^Save log as \.\.\.' 1; then
        x key Escape
        return 1
    fi
    local box try
    box=$(windows '^Save log as \.\.\.')
    rm -f "$csv"
    x windowfocus --sync "$box" key ctrl+a type "$csv"
    # The name field's completion may take the first Return for itself.
    for try in 1 2 3; do
        dialog_closed && break
        x windowfocus --sync "$box" key Return
        wait_until 10 dialog_closed
    done
    dialog_closed && wait_until 60 test -s "$csv"
}

records() {
    if [ -f "$csv" ]; then
        grep -c $'\r$' "$csv" || true
    else
        echo 0
    fi
}

# Saves again until every datagram has its row; each save writes all rows anew.
save_all_rows() {
    local deadline=$((SECONDS + 180))
    while ((SECONDS < deadline)); do
        save_log && (($(records) >= datagrams)) && return 0
    done
    return 1
}

check_capture_log() {
    local size=$((14 + 20 + 8 + ${#payload_prefix} + 2)) # Ethernet, IPv4, UDP headers, payload
    local rows good
    rows=$(records)
    [ "$rows" -eq "$datagrams" ] && pass "the capture log holds $rows rows" ||
        fail "the capture log holds $rows rows, not $datagrams"
    good=$(awk -F'","' -v size="$size" '$3 == size' "$csv" | wc -l)
    [ "$good" -eq "$datagrams" ] && pass "every row has the size $size" ||
        fail "$good of $rows rows have the size $size"
    # The decoder searches the whole frame; a header byte may start it early now and then,
    # so one row that shows the message is asked for, not all.
    if grep -qF '"Advertise","[kinto install test ' "$csv"; then
        pass "the rows show the datagrams' messages"
    else
        fail "no row shows a message: $(tr '\r' ' ' <"$csv")"
    fi
    [ "$(stat -c %U "$csv")" = "$member" ] && pass "the log was written by $member, not root" ||
        fail "the log belongs to $(stat -c %U "$csv")"
}

exit_program() {
    file_menu Up || {
        fail "the File menu did not open"
        return
    }
    if wait_until 30 window_count_is '^Kinto Sniffer$' 0; then
        local rc=0 pid
        wait "${session_pids[0]}" || rc=$?
        for pid in "${session_pids[@]}" "$program_pid"; do
            forget_pid "$pid"
        done
        [ "$rc" -eq 0 ] && pass "File > Exit ends the program" || fail "exit status $rc"
    else
        fail "File > Exit left the window open"
    fi
}

check_member_captures() {
    csv=$work/logs/capture.csv
    start_session || return 0
    dismiss_adapter_question || return 0
    if grep -q "^Uid:\s*$(id -u "$member")\s" "/proc/$program_pid/status"; then
        pass "the program runs as $member"
    else
        fail "the program does not run as $member"
    fi
    choose_loopback || return 0
    send_datagrams
    if save_all_rows; then
        check_capture_log
    else
        fail "File > Save Log wrote no complete capture log: $(cat "$log")"
    fi
    exit_program
}

# A member's own Qt style plugin, loaded into the window, finds no capability to use; and a
# window killed while it captures leaves no capture helper behind.
check_plugin_and_kill() {
    local plugins=$work/$member/plugins capabilities=$work/$member/capabilities.txt helper_id
    cmake -S "$here/styleplugin" -B "$work/styleplugin" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
        cmake --build "$work/styleplugin" >/dev/null || {
        fail "the style plugin did not build"
        return 0
    }
    install -D -m 644 -o "$member" "$work/styleplugin/libkintostyleprobe.so" \
        "$plugins/styles/libkintostyleprobe.so"
    start_program "$member" HOME="$work/$member" QT_PLUGIN_PATH="$plugins" \
        QT_STYLE_OVERRIDE=kintoprobe
    dismiss_adapter_question || return 0
    if [ "$(grep -cE '^Cap(Inh|Prm|Eff|Amb):\s+0{16}$' "$capabilities" 2>/dev/null)" = 4 ]; then
        pass "a plugin of $member's, loaded into the window, finds no capability"
    else
        fail "the plugin in the window found: $(tr '\n' ' ' <"$capabilities" 2>/dev/null)"
    fi
    choose_loopback || return 0
    helper_id=$(helper_pid)
    [ -n "$helper_id" ] || {
        fail "no capture helper runs beside the capturing window"
        return 0
    }
    kill -KILL "$program_pid"
    if wait_until 30 gone "$helper_id"; then
        pass "the capture helper ends with a window killed by SIGKILL"
    else
        fail "the capture helper $helper_id outlives the killed window"
    fi
    wait_until 30 gone "$program_pid"
    local pid
    for pid in "${session_pids[@]}" "$program_pid"; do
        forget_pid "$pid"
    done
}

# Someone outside the group starts the window and presses Start: a message says what to do.
check_outsider_told_about_group() {
    start_program "$outsider"
    dismiss_adapter_question || return 0
    x windowfocus --sync "$main" mousemove --window "$main" 200 $(($(geometry "$main" HEIGHT) - 44)) \
        click 1
    x key Down Up ctrl+g
    wait_until 30 window_count_is '^Kinto Sniffer$' 2 || {
        fail "Start showed no message to $outsider: $(cat "$log")"
        return 0
    }
    local box
    box=$(windows '^Kinto Sniffer$' | while read -r w; do
        [ "$w" != "$main" ] && echo "$w"
    done)
    # The message box says it, and so does the program's standard error, which can be read here.
    if grep -qF "Capturing needs membership of the group $group." "$log" &&
        grep -qF "\"sudo adduser $outsider $group\"" "$log" && ! grep -q root "$log"; then
        pass "$outsider is told to join the group $group"
    else
        fail "$outsider was told: $(cat "$log")"
    fi
    x windowfocus --sync "$box" key Return
    wait_until 30 window_count_is '^Kinto Sniffer$' 1 || fail "the message stays open"
    exit_program
}

# A member runs the helper by hand on a device that is not a network adapter: it is refused,
# with its own status and a line that says why.
check_member_refused_non_network() {
    local out rc=0
    out=$(runuser -u "$member" -- "$helper" --interface nflog --filter "" 2>&1 </dev/null) || rc=$?
    if [ "$rc" -eq 3 ] && grep -qF '"nflog" is not a network adapter' <<<"$out"; then
        pass "the helper refuses $member a device that is not a network adapter (nflog)"
    else
        fail "the helper on nflog for $member: status $rc, '$out'"
    fi
}
