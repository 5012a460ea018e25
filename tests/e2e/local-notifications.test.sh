#!/usr/bin/env bash
# A pending alert of the service becomes a desktop notification (dunst shows
# it), is acknowledged to the service, and leaves its trail in the log; a click
# on the notification brings the hidden window back.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service

add_pending() {
    node -e '
        const req = require("http").request({ host: "127.0.0.1", port: 45721, method: "POST",
            path: "/api/desktop-notifications/pending/add" }, (res) => process.exit(res.statusCode === 204 ? 0 : 1));
        req.end(process.argv[1]);' "$1"
}

start_app "$SCRIPTED_APP/quorvel"
wait_main_window 30
# Alerts found before the notification server has answered take the fallback
# dialog; wait until the shell has been prepared after the page load.
wait_prepared 30
sleep 1
add_pending '[{"id":"e2e-1","messageTitle":"贵州茅台 突破 1800","messageBody":"现价 1801.00 元，规则：价格高于 1800","sourceType":"rule","sourceId":"7"}]'
wait_for 30 service_saw '^POST /api/desktop-notifications/e2e-1/mark-notified$' ||
    fail "the alert was never acknowledged"
pass "the pending alert was acknowledged"
service_saw '^GET /api/desktop-notifications/pending$' || fail "no poll reached the service"

sleep 0.5
screenshot notification
dunstctl close-all
sleep 0.3
history=$(dunstctl history)
echo "$history" | grep -q '贵州茅台 突破 1800' || fail "dunst did not show the notification: $history"
echo "$history" | grep -q 'Quorvel' || fail "the notification does not name the application"
pass "dunst showed the desktop notification"

while read -r event fields; do
    log_has "$event" "$fields" || fail "the log lacks $event $fields"
done <<'EVENTS'
request-done GET /api/desktop-notifications/pending status=200 bytes=
pending-loaded count=1$
local-notification id=e2e-1 success=true
request-done POST /api/desktop-notifications/e2e-1/mark-notified status=204
EVENTS
pass "the log holds the poll, the count, the notification and the acknowledgement"
# Acknowledged once: later polls no longer list it.
sleep 9
[ "$(log_events local-notification 'id=e2e-1 ')" = 1 ] || fail "the alert was shown twice"
pass "an acknowledged alert is not shown again"

# Hide the window, raise a new alert, and open its notification.
wmctrl -i -c "$MAIN_WINDOW"
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." || fail "window not hidden"
add_pending '[{"id":"e2e-2","messageTitle":"腾讯控股 跌破 300","messageBody":"现价 299.8"}]'
wait_for 20 service_saw '^POST /api/desktop-notifications/e2e-2/mark-notified$' || fail "second alert not acknowledged"
wait_for 10 bash -c "dunstctl count displayed | grep -qv '^0$'" || fail "the second notification is not on screen"
dunstctl action 0
wait_for 10 bash -c "xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." ||
    fail "opening the notification did not bring the window back"
pass "opening a notification brings the window back"
