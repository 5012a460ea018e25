#!/usr/bin/env bash
# Other programs hold 127.0.0.1:45721 and every port the shell would try
# after it (45722 to 45741): start-up ends with the fatal alert about the
# port (the screenshot stranger-alert shows its text), nothing reaches the
# program that answers on 45721, and confirming the alert ends the shell
# with status 0 and leaves no service of its own.
source "$(dirname "$0")/lib.sh"
start_desktop

# The stranger: the scripted service started by hand, so without a token,
# logging every request it gets.
STRANGER_LOG=$E2E_TMP/stranger-requests.jsonl
: >"$STRANGER_LOG"
env -u QUORVEL_SERVICE_TOKEN -u QUORVEL_SERVICE_PROOF E2E_LOG="$STRANGER_LOG" PORT=45721 \
    node "$E2E_SOURCE_DIR/tests/e2e/service/server.js" >/dev/null 2>&1 &
STRANGER_PID=$!
E2E_PIDS+=($!)
wait_for 10 port_open || fail "the stranger did not listen"
node -e '
    for (let port = 45722; port <= 45741; ++port) require("net").createServer().listen(port, "127.0.0.1");
    setInterval(() => {}, 1000);' &
E2E_PIDS+=($!)
last_port_open() { bash -c 'exec 3<>/dev/tcp/127.0.0.1/45741' 2>/dev/null; }
wait_for 10 last_port_open || fail "the other ports were not taken"

# The requests the stranger got, one "METHOD URL" a line.
stranger_requests() {
    node -e '
        for (const l of require("fs").readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean)) {
            const r = JSON.parse(l); console.log(r.method + " " + r.url);
        }' "$STRANGER_LOG"
}
# The shell finds the ports taken without asking the programs on them.
only_probes() {
    local others
    others=$(stranger_requests || true)
    [ -z "$others" ] || fail "requests reached the stranger: $others"
}
# The shell's dialog: a window named Quorvel of the dialog type.
fatal_dialog() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Quorvel$' 2>/dev/null); do
        xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG &&
            { echo "$id"; return 0; }
    done
    return 1
}

start_app "$E2E_BUILD_DIR/quorvel"
wait_for 30 fatal_dialog || { screenshot stranger-no-alert; fail "no fatal alert"; }
started=$SECONDS
sleep 1
# The alert's text is in the screenshot; the log says what it is about.
screenshot stranger-alert
log_has service-port-taken || fail "the log does not say why"
pass "every port taken ends start-up with the fatal alert about the port"

# While the alert is open, longer than a poll period: still only the probe.
remaining=$((started + 10 - SECONDS))
[ "$remaining" -le 0 ] || sleep "$remaining"
only_probes
kill -0 "$APP_PID" || fail "the shell ended before the alert was confirmed"
pass "nothing reached the other program"

keys_to "$(fatal_dialog)" Return
wait_app_exit 15 || fail "confirming the alert did not end the shell"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS after the fatal alert"
only_probes
own_service_gone() { ! service_running_in "$E2E_BUILD_DIR/web"; }
wait_for 10 own_service_gone || fail "the shell's service outlived it"
kill -0 "$STRANGER_PID" || fail "the other program was stopped"
pass "confirming the alert ends the shell with status 0; the other program runs on"
