#!/usr/bin/env bash
# The local build starts the bundled service, waits for it, shows its page,
# announces itself, and stops the service when it quits; a killed shell takes
# the service with it.
source "$(dirname "$0")/lib.sh"
start_desktop

server_running() { service_running_in "$E2E_BUILD_DIR/web"; }
server_gone() { ! server_running; }

start_app "$E2E_BUILD_DIR/quorvel"
wait_main_window 30
wait_for 30 port_open || fail "the local service never listened on 45721"
pass "the bundled service listens on 127.0.0.1:45721"
# Announced twice: once after the probe, once after the first page load.
wait_prepared 30
pass "probe, page load and both announcements"
grep -q '^QUOTE_SYNC_INTERVAL_SECONDS=180$' "$DATA_DIR/.env" || fail "configuration not in place"
[ "$(stat -c %a "$DATA_DIR")" = 700 ] || fail "data folder is not private"
[ "$(stat -c %a "$DATA_DIR/.env")" = 600 ] || fail "configuration file is not private"
pass "private data folder and configuration"
sleep 2
screenshot local-start
# No status area here: no status item, and no complaint about one.
no_critical_output

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
wait_for 10 server_gone || fail "the service outlived the shell"
pass "quitting stops the service"

start_app "$E2E_BUILD_DIR/quorvel"
wait_for 30 port_open || fail "the service did not start again"
server_running || fail "the service is not the bundled one"
kill -KILL "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=
wait_for 10 server_gone || fail "a killed shell left the service running"
pass "a killed shell takes the service with it"
