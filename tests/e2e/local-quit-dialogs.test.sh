#!/usr/bin/env bash
# A terminate request (a logout, kill) while dialogs are open: two fallback
# dialogs, the second opened inside the first one's loop, are ended, and the
# shell and the service it started are gone within 2 s.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service

start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
wait_prepared 30
# Without a notification server alerts take the fallback dialog.
kill "$DUNST_PID"
sleep 1
service_post /api/desktop-notifications/pending/add \
    '[{"id":"quit-1","messageTitle":"第一个对话框","messageBody":"一"},{"id":"quit-2","messageTitle":"第二个对话框","messageBody":"二"}]'
shell_windows() { xdotool search --onlyvisible --name '^Quorvel$' 2>/dev/null | wc -l; }
two_dialogs_open() { [ "$(shell_windows)" -ge 3 ]; }
wait_for 20 two_dialogs_open || fail "the two fallback dialogs did not open ($(shell_windows) windows)"
screenshot quit-two-dialogs

service_running() { service_running_in "$SCRIPTED_APP/web"; }
service_gone() { ! service_running; }
service_running || fail "the shell's service is not running"
kill -TERM "$APP_PID"
wait_app_exit 2 || fail "the shell still runs 2 s after SIGTERM with dialogs open"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
wait_for 2 service_gone || fail "the service outlived the shell"
pass "SIGTERM with two dialogs open ends the shell and its service within 2 s"
