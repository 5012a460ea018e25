#!/usr/bin/env bash
# A terminate request (a logout, kill) while a fallback dialog is open and
# another waits for it: the dialog is ended, the waiting one never opens, and
# the shell and the service it started are gone within 2 s.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service

start_scripted_shell
# Without a notification server alerts take the fallback dialog.
kill "$DUNST_PID"
sleep 1
service_post /api/desktop-notifications/pending/add \
    '[{"id":"quit-1","messageTitle":"第一个对话框","messageBody":"一"},{"id":"quit-2","messageTitle":"第二个对话框","messageBody":"二"}]'
shell_windows() { xdotool search --onlyvisible --name '^Quorvel$' 2>/dev/null | wc -l; }
dialog_open() { [ "$(shell_windows)" -ge 2 ]; }
wait_for 20 dialog_open || fail "the fallback dialog did not open ($(shell_windows) windows)"
# Both alerts are in; the second waits for the first to be answered.
wait_for 10 log_has request-done 'quit-2/mark-notified' || fail "the second alert did not arrive"
sleep 2
[ "$(shell_windows)" = 2 ] || fail "$(shell_windows) windows: a fallback dialog opened inside another"
screenshot quit-dialog-open

service_running() { service_running_in "$SCRIPTED_APP/web"; }
service_gone() { ! service_running; }
service_running || fail "the shell's service is not running"
kill -TERM "$APP_PID"
wait_app_exit 2 || fail "the shell still runs 2 s after SIGTERM with a dialog open"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
wait_for 2 service_gone || fail "the service outlived the shell"
pass "SIGTERM with a dialog open and one waiting ends the shell and its service within 2 s"
