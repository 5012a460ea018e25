#!/usr/bin/env bash
# The shell heals itself: a crashed web process reloads the page, a few times
# within a minute and then shows a page that says so (Ctrl+R loads the
# service's page again); a dead service is started again at growing delays
# and the user hears of it once after a minute; a resume from sleep polls at
# once; a terminate request still ends everything with status 0.
source "$(dirname "$0")/lib.sh"
run_started=$SECONDS
start_desktop
start_system_bus
start_login_manager
install_scripted_service
serve_load_reporting_page '#1f618d' 服务页面
NOTIFICATION_TRAFFIC=$E2E_TMP/notification-traffic.txt
dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" >"$NOTIFICATION_TRAFFIC" 2>&1 &
E2E_PIDS+=($!)

alive() { kill -0 "$APP_PID" || fail "the shell died: $(tail -n 20 "$E2E_TMP/app.out")"; }
page_loads() { page_reports | wc -l; }
page_loads_above() { [ "$(page_loads)" -gt "$1" ]; }
# How many requests "METHOD URL" matching the pattern arrived between two
# times (milliseconds).
requests_between() {
    node -e '
        const [file, pattern, from, to] = process.argv.slice(1);
        const re = new RegExp(pattern);
        const lines = require("fs").readFileSync(file, "utf8").split("\n").filter(Boolean).map(JSON.parse);
        console.log(lines.filter((r) => re.test(r.method + " " + r.url) && r.at >= +from && r.at <= +to).length);
    ' "$E2E_LOG" "$@"
}
polls_between() { requests_between '^GET /api/desktop-notifications/pending$' "$@"; }
now_ms() { date +%s%3N; }
export -f requests_between polls_between

start_scripted_shell
wait_for 10 page_loads_above 0 || fail "the page did not load"

# 1. The web process crashes: the page reloads by itself.
kill_web_process() {
    local pids
    pids=$(web_processes)
    [ -n "$pids" ] || fail "no web process under the shell"
    # shellcheck disable=SC2086
    kill -KILL $pids
}
crashes_from=$SECONDS
loads=$(page_loads)
kill_web_process
wait_for 15 log_has web-process-terminated 'reason=crashed' || fail "the crash was not logged"
wait_for 20 page_loads_above "$loads" || { screenshot crash-no-reload; fail "the page did not come back"; }
log_has web-process-reload 'count=1$' || fail "the reload was not logged"
alive
pass "a crashed web process: the page reloads by itself"

# 2. Four crashes within a minute: three reloads, then the page that says so;
#    Ctrl+R loads the service's page again.
for crash in 2 3 4; do
    loads=$(page_loads)
    kill_web_process
    wait_for 15 log_more $((crash - 1)) web-process-terminated 'reason=crashed' ||
        fail "crash $crash was not logged"
    if [ "$crash" -lt 4 ]; then
        wait_for 20 page_loads_above "$loads" || fail "the page did not come back after crash $crash"
    fi
done
[ $((SECONDS - crashes_from)) -lt 55 ] || fail "the crashes took too long to count as one minute's"
wait_for 10 log_has web-process-reloads-stopped || fail "the reloads did not stop"
sleep 2
[ "$(log_events web-process-reload)" = 3 ] ||
    fail "expected 3 reloads, the log has $(log_events web-process-reload)"
[ "$(page_loads)" = "$loads" ] || fail "the page was loaded again after the fourth crash"
screenshot crash-page
alive
keys_to "$MAIN_WINDOW" ctrl+r
wait_for 20 page_loads_above "$loads" || fail "Ctrl+R did not load the service's page"
pass "after four crashes in a minute reloads stop; Ctrl+R loads the page again"

# 3. The service dies: the shell starts a new one, whose alerts arrive.
first=$(service_pid "$SCRIPTED_APP/web") || fail "no service running"
kill -KILL "$first"
wait_for 10 log_has service-exit 'signal=9' || fail "the service's end was not logged"
wait_for 10 log_has service-restart ' 1s$' || fail "the restart was not logged"
second_running() { service_pid "$SCRIPTED_APP/web" | grep -qvx "$first"; }
wait_for 15 second_running || fail "no new service was started"
second=$(service_pid "$SCRIPTED_APP/web")
wait_for 15 service_post /api/desktop-notifications/pending/add \
    '[{"id":"after-restart-1","messageTitle":"重启后的提醒","messageBody":"新的服务进程"}]' ||
    fail "the new service does not answer"
wait_for 30 log_has request-done 'POST /api/desktop-notifications/after-restart-1/mark-notified status=204' ||
    fail "the alert of the new service was not acknowledged"
log_has local-notification 'id=after-restart-1 success=true' || fail "the alert was not a notification"
wait_for 5 dunst_showed '重启后的提醒' || fail "dunst did not show the alert"
pass "a killed service is started again ($first, then $second) and its alerts arrive"

# 4. A service that dies at every start: started again after 2, 4, 8, 16 and
#    then 30 s (the one before lived less than a minute); after a minute
#    without an answer the user is told, once; a service that lives again
#    is polled again.
touch "$E2E_DIE_FILE"
starts_before=$(wc -l <"$E2E_STARTS")
outage_from=$SECONDS
kill -KILL "$second"
told() { grep -qF '本地服务已停止运行，正在自动重启；恢复之前不会收到新的提醒。' "$NOTIFICATION_TRAFFIC"; }
wait_for 80 told || fail "no notification after a minute without the service"
told_after=$((SECONDS - outage_from))
# The last answer came at most one poll (8 s) before the kill.
[ "$told_after" -ge 50 ] || fail "the user was told after $told_after s, before a minute without an answer"
rm "$E2E_DIE_FILE"
# The start due when the user was told may still have found the die file:
# the one after it comes 30 s later.
wait_for 50 log_more "$(log_events pending-loaded)" pending-loaded ||
    fail "polling did not resume once the service lived again"
log_has service-answered-again || fail "the service's return was not logged"
delays=$(log_lines service-restart | grep -o '[0-9][0-9]*s$' | grep -o '[0-9]*' | paste -sd' ')
echo "logged delays: $delays"
[[ "$delays" == "1 2 4 8 16 30" || "$delays" == "1 2 4 8 16 30 30" ]] || fail "the delays do not double up to 30 s: $delays"
# The time between two starts is the delay logged in between.
gaps=$(tail -n +$((starts_before + 1)) "$E2E_STARTS" | awk 'NR > 1 { printf "%.1f ", ($2 - last) / 1000 } { last = $2 }')
echo "seconds between starts: $gaps"
read -r -a expected <<<"${delays#1 2 }"
read -r -a measured <<<"$gaps"
[ "${#measured[@]}" = "${#expected[@]}" ] || fail "${#measured[@]} gaps between starts for ${#expected[@]} delays"
for i in "${!expected[@]}"; do
    awk -v m="${measured[i]}" -v e="${expected[i]}" 'BEGIN { exit !(m >= e - 0.1 && m <= e + 1.5) }' ||
        fail "a start came ${measured[i]} s after the one before, not ${expected[i]} s"
done
sleep 2
[ "$(grep -cF '本地服务已停止运行' "$NOTIFICATION_TRAFFIC")" = 1 ] || fail "the user was told more than once"
alive
pass "restarts at growing delays, up to 30 s; told once after $told_after s; polled again"

# 5. A resume from sleep polls at once; going to sleep does not.
kill -USR2 "$LOGIN_MANAGER_PID"
# Right after a regular poll, so that the next one is seconds away.
since=$(now_ms)
wait_for 12 bash -c "[ \$(polls_between $since 99999999999999) -gt 0 ]" || fail "no regular poll"
sleep 1
resumed_at=$(now_ms)
kill -USR1 "$LOGIN_MANAGER_PID"
sleep 1.5
[ "$(polls_between "$resumed_at" $((resumed_at + 1000)))" -ge 1 ] || fail "no poll within a second of the resume"
[ "$(log_events system-resumed)" = 1 ] || fail "expected one system-resumed in the log, found $(log_events system-resumed)"
pass "a resume from sleep polls within a second"

# 6. A terminate request ends the shell and its service.
kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
service_gone() { ! service_running_in "$SCRIPTED_APP/web"; }
wait_for 10 service_gone || fail "the service outlived the shell"
pass "SIGTERM ends the shell with status 0 and leaves no service"
echo "the run took $((SECONDS - run_started)) s"
