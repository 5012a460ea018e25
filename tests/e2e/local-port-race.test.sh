#!/usr/bin/env bash
# Another program binds the service's port after the shell found it free and
# before the service binds it: the service ends with its status for a taken
# port, the shell starts it again on the next free port (45722) and shows
# its page there; the other program gets nothing but probes of the page.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
export E2E_THIEF_FILE=$E2E_TMP/thief
export E2E_THIEF_LOG=$E2E_TMP/thief-requests.txt
: >"$E2E_THIEF_FILE"
: >"$E2E_THIEF_LOG"

start_app "$SCRIPTED_APP/quorvel"
wait_for 20 test -s "$E2E_THIEF_FILE.pid" || fail "the other program did not start"
E2E_PIDS+=("$(cat "$E2E_THIEF_FILE.pid")")
wait_main_window 30
wait_prepared 30
log_has service-port-moved '45721 taken, moving to 45722$' || fail "the move is not logged"
log_has service-exit 'status=3$' || fail "the service did not end with status 3"
service_saw '^GET /$' || fail "the page was not loaded from the moved service"
E2E_SERVICE_PORT=45722 service_post /control/pending-mode ok || fail "the service is not on 45722"
others=$(grep -vx 'GET /' "$E2E_THIEF_LOG" || true)
[ -z "$others" ] || fail "requests other than probes of the page reached the other program: $others"
sleep 1
screenshot port-race
pass "a port taken before the service's bind: the service moves to 45722 ($(wc -l <"$E2E_THIEF_LOG") probes reached the other program)"
