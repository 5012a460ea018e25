#!/usr/bin/env bash
# The shell on GNOME Shell under Wayland: the window shows the page, the test
# command and an alert reach GNOME's notification server, a click on the
# alert brings the window to the front from behind another one, Alt+F4 hides
# it, a second start shows it again, and nothing critical is printed.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gnome.sh"
run_started=$SECONDS
start_gnome_desktop
install_scripted_service
# A page that fills the window in one colour, easy to tell in screenshots.
serve_page page <<'HTML'
<body style="margin:0;background:#c0392b;color:white;font:48px sans-serif">page on GNOME
HTML

# Started as a launcher would, with an activation token of its own.
XDG_ACTIVATION_TOKEN=e2e-first-launch start_app "$SCRIPTED_APP/quorvel"
wait_for 30 shell_window_shown || fail "the window did not appear"
wait_prepared 30
service_saw '^GET /$' || fail "the page was never requested"
window=$(shell_window)
echo "$window"
echo "$window" | grep -q '"wm-class": "io.quorvel.Desktop"' || fail "the app id is not io.quorvel.Desktop"
echo "$window" | grep -q '"app-id": "io.quorvel.Desktop.desktop"' ||
    fail "GNOME did not tie the window to its desktop entry"
sleep 1
gnome_screenshot gnome-window
pass "the window shows the page and belongs to the desktop entry"

# Ctrl+T: the test notification goes to GNOME's notification server.
gnome keys Control_L+t
wait_for 15 grep -q 'Quorvel测试提醒' "$NOTIFICATION_TRAFFIC" ||
    fail "the test notification did not reach GNOME's notification server"
sleep 0.5
gnome_screenshot gnome-test-notification
pass "Ctrl+T sends the test notification to GNOME"

# Another application's window in front of the shell's.
gjs "$E2E_SOURCE_DIR/tests/e2e/helpers/other-window.js" >/dev/null 2>&1 &
E2E_PIDS+=($!)
other_window_focused() { gnome windows | grep '"title": "Other"' | grep -q '"has-focus": true'; }
wait_for 20 other_window_focused || fail "the other window did not appear in front"
sleep 1
gnome_screenshot gnome-other-in-front
! shell_window_focused || fail "the shell's window kept the focus"

# An alert while the other window is in front. Banners queue up: let those
# shown so far go (they stay while the user is idle), then stay idle so the
# alert's banner stays until it is clicked.
gnome busy 10
sleep 1.5
add_pending() { service_post /api/desktop-notifications/pending/add "$1"; }
add_pending '[{"id":"gnome-1","messageTitle":"贵州茅台 突破 1800","messageBody":"现价 1801.00 元"}]'
wait_for 20 service_saw '^POST /api/desktop-notifications/gnome-1/mark-notified$' ||
    fail "the alert was not acknowledged"
grep -q '贵州茅台 突破 1800' "$NOTIFICATION_TRAFFIC" || fail "the alert did not reach GNOME's notification server"
log_has local-notification 'id=gnome-1 success=true' || fail "GNOME did not accept the alert"
sleep 1.5
gnome_screenshot gnome-alert-banner
pass "the alert became a GNOME notification and was acknowledged"

# The banner sits at the top in the middle. Should an earlier banner still
# be up, a click takes it away and the alert's comes next.
clicked=false
for attempt in 1 2 3; do
    gnome click 800 75
    if wait_for 4 grep -q 'ActionInvoked' "$NOTIFICATION_TRAFFIC"; then clicked=true; break; fi
done
$clicked || fail "GNOME reported no click on the alert"
wait_for 10 shell_window_focused || { gnome windows >&2; fail "the click did not bring the window to the front"; }
sleep 0.5
gnome_screenshot gnome-after-click
pass "a click on the alert brings the window to the front from behind another window"

# Alt+F4 hides the window; the process lives on.
gnome keys Alt_L+F4
shell_window_gone() { ! shell_window_shown; }
wait_for 10 shell_window_gone || fail "Alt+F4 did not hide the window"
sleep 1
kill -0 "$APP_PID" || fail "the shell ended with its window"
pass "Alt+F4 hides the window and the shell keeps running"

# A second start shows the window again and ends with status 0. It hands
# the launcher's activation token to the running instance.
XDG_ACTIVATION_TOKEN=e2e-launch-token "$SCRIPTED_APP/quorvel" >"$E2E_TMP/second.out" 2>&1 &
second=$!
E2E_PIDS+=($second)
second_ended() { ! kill -0 "$second"; }
wait_for 15 second_ended || fail "the second start did not end"
second_status=0
wait "$second" || second_status=$?
[ "$second_status" = 0 ] || fail "the second start ended with status $second_status"
wait_for 10 shell_window_focused || fail "the second start did not bring the window back"
grep -A12 'member=Activate' "$APPLICATION_TRAFFIC" | grep -q 'e2e-launch-token' ||
    fail "the second start did not pass its activation token on"
gnome_screenshot gnome-second-start
pass "a second start shows the window again and exits 0"

# A status area switched on later gets the status item.
start_status_area
wait_for 10 grep -q . "$STATUS_ITEMS" || fail "no status item registered with the status area"
pass "the status item joins a status area that appears later"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
no_critical_output
grep -E 'CRITICAL' "$E2E_TMP/second.out" >&2 && fail "the second start reported critical warnings"
pass "quit with status 0, nothing critical on standard error"
echo "the GNOME run took $((SECONDS - run_started)) s"
