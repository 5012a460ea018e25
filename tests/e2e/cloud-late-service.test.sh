#!/usr/bin/env bash
# The cloud build started before its service answers: the failed page load
# is tried again until the service is there, the page then loads by itself,
# the shell announces itself, and the next alert is a desktop notification,
# not the fallback dialog.
source "$(dirname "$0")/lib.sh"

# The service stands in for the cloud on the address the build was given, a
# loopback one in the builds under test.
base_url=$(sed -n 's/^QUORVEL_CLOUD_BASE_URL:STRING=//p' "$E2E_BUILD_DIR/CMakeCache.txt")
cloud_host=${base_url#http://}
[[ "$cloud_host" =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "the cloud address $base_url is not a loopback one"
export E2E_SERVICE_HOST=$cloud_host E2E_SERVICE_PORT=80

start_desktop
install_scripted_service
serve_load_reporting_page '#117a65' 云端页面
page_loaded() { page_reports | grep -q .; }

start_app "$E2E_BUILD_DIR/quorvel"
started=$SECONDS
wait_main_window 30
wait_for 15 log_has page-load-failed || { screenshot cloud-late-no-failure; fail "the failed page load was not logged"; }
# Failed loads at about 0, 2 and 6 s; the one at 14 s finds the service.
remaining=$((started + 10 - SECONDS))
[ "$remaining" -le 0 ] || sleep "$remaining"
E2E_HOST=$cloud_host PORT=80 node "$E2E_SOURCE_DIR/tests/e2e/service/server.js" >"$E2E_TMP/service.out" 2>&1 &
E2E_PIDS+=($!)
service_from=$SECONDS
wait_for 20 page_loaded || { screenshot cloud-late-no-page; fail "the page did not load by itself"; }
echo "the page loaded $((SECONDS - service_from)) s after the service started, $((SECONDS - started)) s after the shell"
failed_at=$(grep -E '^\[[^]]*\] page-load-failed( |$)' "$LOG_FILE" | sed -E 's/^\[([^]]*)\].*/\1/' | while read -r t; do date -d "$t" +%s; done)
gaps=$(awk 'NR > 1 { printf "%d ", $1 - last } { last = $1 }' <<<"$failed_at")
echo "seconds between failed loads: $gaps"
# The log has whole seconds.
[[ "$gaps" =~ ^[123]\ [345]\ $ ]] || fail "the failed load was not tried again after 2, then 4 s: $gaps"
sleep 1
screenshot cloud-late-page
pass "failed loads are tried again after 2 and 4 s; the page loads by itself once the service answers"

wait_for 20 service_saw '^POST /api/desktop-notifications/initialize$' || fail "the shell did not announce itself"
sleep 1
service_post /api/desktop-notifications/pending/add \
    '[{"id":"cloud-late-1","messageTitle":"云端提醒","messageBody":"服务晚到之后"}]' || fail "could not add an alert"
wait_for 30 service_saw '^POST /api/desktop-notifications/cloud-late-1/mark-notified$' ||
    fail "the alert was not acknowledged"
log_has local-notification 'id=cloud-late-1 success=true' || fail "the alert was not a desktop notification"
! dialog_window || { screenshot cloud-late-dialog; fail "the alert took the fallback dialog"; }
wait_for 5 dunst_showed '云端提醒' || fail "dunst did not show the alert"
pass "announced after the load; the next alert is a desktop notification"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
pass "a terminate request ends the shell with status 0"
