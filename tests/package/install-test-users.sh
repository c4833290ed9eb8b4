# The test users of install-test.sh (sourced after install-test-lib.sh): made with a mark, so
# that a leftover of a run that was killed is known for the test's own, and removed only once
# nothing of theirs runs any more.

test_user_mark="kinto install test user"

marked_test_user() {
    [ "$(getent passwd "$1" | cut -d: -f5)" = "$test_user_mark" ]
}

# The ids of the processes that run as the user, one a line.
user_processes() { ps -o pid= -u "$(id -u "$1")" 2>/dev/null | tr -d ' '; }
no_user_processes() { [ -z "$(user_processes "$1")" ]; }

# Waits for the user's processes to end (a session bus and what it started end a moment after
# the program), ends those that stay, then removes the user and the home. Says loudly what
# stands in the way; only a marked user is touched.
remove_test_user() {
    local user=$1 pid output
    marked_test_user "$user" || {
        echo "install-test: $user is not a test user; left alone" >&2
        return 1
    }
    if ! wait_until 30 no_user_processes "$user"; then
        echo "install-test: $user still runs: $(ps -o pid=,args= -u "$(id -u "$user")" | xargs)"
        for pid in $(user_processes "$user"); do
            kill -KILL "$pid" 2>/dev/null
        done
        wait_until 10 no_user_processes "$user" || {
            echo "install-test: cannot end the processes of $user" >&2
            return 1
        }
    fi
    if ! output=$(userdel --remove "$user" 2>&1); then
        # userdel also complains about a mail spool that was never made; only a user that is
        # still there is a failure.
        if id "$user" >/dev/null 2>&1; then
            echo "install-test: userdel $user failed: $output" >&2
            return 1
        fi
    fi
}
