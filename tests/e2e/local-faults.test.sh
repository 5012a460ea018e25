#!/usr/bin/env bash
# The shell under faults: a service that dies and is started again, one that
# answers 500, garbage or nothing, a data folder removed while running, a
# thousand pending alerts at once, and a notification server that disappears.
# Nothing crashes and nothing is lost.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service

start_scripted_shell
alive() { kill -0 "$APP_PID" || fail "the shell died: $(tail -n 20 "$E2E_TMP/app.out")"; }

# 1. The service dies, and so does each new one for a while: polls fail and
#    are logged; the shell starts it again by itself, and once a new one
#    lives it is polled again.
first_service=$(service_pid "$SCRIPTED_APP/web") || fail "no service running"
touch "$E2E_DIE_FILE"
kill -KILL "$first_service"
wait_for 20 log_has request-failed 'pending failed status=0 error=' || fail "no failed poll logged"
log_has service-exit 'signal=9' || fail "the service's end was not logged"
alive
rm "$E2E_DIE_FILE"
loaded_before=$(log_events pending-loaded)
wait_for 40 log_more "$loaded_before" pending-loaded ||
    fail "polling did not resume after the service came back"
new_service=$(service_pid "$SCRIPTED_APP/web") || fail "the shell did not start its service again"
[ "$new_service" != "$first_service" ] || fail "the service was not replaced"
pass "a dead service is logged, started again by the shell, and polled again"

# 2. Error statuses, garbage and a silent service: each poll ends, the guard
#    is released, and the next poll goes out.
service_post /control/pending-mode 500
wait_for 20 log_has request-failed 'pending failed status=500 error=none' || fail "500 not logged"
service_post /control/pending-mode garbage
wait_for 20 log_has pending-decode-failed || fail "garbage not logged"
service_post /control/pending-mode hang
sleep 1
hung_at=$SECONDS
failed_before=$(log_events request-failed 'pending failed status=0')
wait_for 90 log_more "$failed_before" request-failed 'pending failed status=0' ||
    fail "a hanging poll never ended"
echo "a silent service's poll ended after $((SECONDS - hung_at)) s"
# A service silent for that long is ended and started again: ask until one answers.
wait_for 20 service_post /control/pending-mode ok || fail "the service did not answer again"
loaded_before=$(log_events pending-loaded)
wait_for 20 log_more "$loaded_before" pending-loaded ||
    fail "the guard was not released after the hanging poll"
alive
pass "500, garbage and a hanging service each end a poll and release the guard"

# 3. The data folder disappears; the log comes back once the folder does.
rm -rf "$DATA_DIR"
sleep 10
alive
[ ! -e "$LOG_FILE" ] || fail "the log was written into a removed folder"
mkdir -p "$DATA_DIR"
wait_for 20 test -s "$LOG_FILE" || fail "the log did not come back"
pass "the log comes back with its folder"

# 4. A thousand pending alerts in one poll: each delivered and acknowledged once.
node -e '
    const list = Array.from({ length: 1000 }, (_, i) => ({ id: "bulk-" + i,
        messageTitle: "提醒 " + i, messageBody: "第 " + i + " 条" }));
    process.stdout.write(JSON.stringify(list));' >"$E2E_TMP/bulk.json"
service_post /api/desktop-notifications/pending/add "$(cat "$E2E_TMP/bulk.json")"
wait_for 120 log_more 999 request-done 'mark-notified status=204' ||
    fail "not every alert was acknowledged ($(log_events request-done 'mark-notified status=204'))"
sleep 9
delivered=$(log_lines local-notification 'id=bulk-[0-9]+ success=true$' | sort -u | wc -l)
shown=$(log_events local-notification 'id=bulk-')
[ "$delivered" = 1000 ] && [ "$shown" = 1000 ] || fail "delivered $delivered distinct, $shown in all"
alive
pass "a thousand alerts delivered and acknowledged once each"

# 5. The notification server goes away: alerts fall back to the dialog and
#    are still acknowledged.
dunstctl close-all || true
# By its id: other runs on this machine have their own.
kill "$DUNST_PID"
sleep 1
service_post /api/desktop-notifications/pending/add '[{"id":"late-1","messageTitle":"通知服务已退出","messageBody":"改用对话框"}]'
wait_for 20 log_has local-notification 'id=late-1 success=false' ||
    fail "the refused notification was not logged"
wait_for 20 dialog_window || fail "no fallback dialog"
screenshot fallback-dialog
wait_for 20 log_has request-done 'POST /api/desktop-notifications/late-1/mark-notified status=204' ||
    fail "the fallback alert was not acknowledged"
keys_to "$(dialog_window)" Return
pass "without a notification server the dialog shows and the alert is acknowledged"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
pass "the shell ends cleanly after all of it"
