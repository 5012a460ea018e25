#!/usr/bin/env bash
# The user is never left believing alerts are watched when they are not: a
# pending list that fails for two minutes is told once and its return once,
# 401 asks once to sign in, the status item shows both and counts the alerts
# that came while the window was closed, a hung service is replaced, and a
# burst without a notification server takes at most two dialogs.
source "$(dirname "$0")/lib.sh"
start_desktop
install_scripted_service
start_status_area

notices() { log_events alert-flow-notice " $1\$"; }

start_scripted_shell
wait_for 10 shell_item_registered || fail "the status item did not register"
item_is Title Quorvel || fail "the item's title is $(item_property Title)"
alive() { kill -0 "$APP_PID" || fail "the shell died: $(tail -n 20 "$E2E_TMP/app.out")"; }

# 1. The pending list answers 503 for 150 s: one notice after two minutes,
#    the paused icon and its title meanwhile, and one notice of the return.
service_post /control/pending-mode 503
failing_since=$SECONDS
wait_for 150 item_is Title 'Quorvel：暂时无法连接云端提醒服务' || fail "the outage was not shown"
echo "the outage was shown after $((SECONDS - failing_since)) s"
[ $((SECONDS - failing_since)) -ge 115 ] || fail "the outage was shown before two minutes"
item_is IconName quorvel-paused-symbolic || fail "icon $(item_property IconName)"
sleep 1
screenshot alert-health-outage
wait_for 10 dunst_showed '暂时无法连接云端提醒服务，恢复之前不会收到新的提醒。' || fail "no outage notice"
remaining=$((150 - (SECONDS - failing_since)))
[ "$remaining" -le 0 ] || sleep "$remaining"
[ "$(notices outage)" = 1 ] || fail "the outage was told $(notices outage) times"
service_post /control/pending-mode ok
wait_for 20 item_is Title Quorvel || fail "the title stayed $(item_property Title)"
item_is IconName quorvel-status-symbolic || fail "icon $(item_property IconName)"
wait_for 10 dunst_showed '云端提醒服务已恢复。' || fail "no recovery notice"
pass "two minutes of failed polls are told once, shown on the item, and their end told once"

# 2. 401: one notice, asking to sign in.
service_post /control/pending-mode 401
wait_for 30 dunst_showed '请先在Quorvel里登录账号，登录之前不会收到新的提醒。' || fail "no sign-in notice"
item_is Title 'Quorvel：请先登录账号' || fail "the title is $(item_property Title)"
sleep 16
[ "$(notices signed-out)" = 1 ] || fail "the sign-in was asked $(notices signed-out) times"
service_post /control/pending-mode ok
wait_for 20 item_is Title Quorvel || fail "the title stayed $(item_property Title)"
pass "401 twice asks once to sign in"

# 3. Five alerts with the window closed: the item needs attention and counts
#    them; a second start shows the window and clears the count.
wmctrl -i -c "$MAIN_WINDOW"
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." || fail "window not hidden"
service_post /api/desktop-notifications/pending/add "$(node -e '
    process.stdout.write(JSON.stringify(Array.from({ length: 5 }, (_, i) => ({ id: "away-" + i,
        messageTitle: "离开时的提醒 " + i, messageBody: "第 " + i + " 条" }))));')"
wait_for 20 item_is Status NeedsAttention || fail "the item's status is $(item_property Status)"
wait_for 10 item_is Title 'Quorvel：5 条新提醒' || fail "the title is $(item_property Title)"
item_is AttentionIconName quorvel-attention-symbolic || fail "attention icon $(item_property AttentionIconName)"
timeout 30 "$SCRIPTED_APP/quorvel" >"$E2E_TMP/second.out" 2>&1 || fail "the second start did not end cleanly"
wait_for 10 item_is Status Active || fail "the status stayed $(item_property Status)"
item_is Title Quorvel || fail "the title stayed $(item_property Title)"
item_is AttentionIconName '' || fail "attention icon $(item_property AttentionIconName)"
pass "alerts that came with the window closed are counted on the item until it is shown"

# 4. The service stops answering while its process lives: a new one within
#    150 s, the old one gone, and alerts flow again.
stopped=$(service_pid "$SCRIPTED_APP/web") || fail "no service running"
kill -STOP "$stopped"
stopped_at=$SECONDS
replaced() { local pid; pid=$(service_pid "$SCRIPTED_APP/web") && [ "$pid" != "$stopped" ]; }
wait_for 150 replaced || fail "the hung service was not replaced"
echo "the hung service was replaced after $((SECONDS - stopped_at)) s"
kill -0 "$stopped" 2>/dev/null && fail "the hung service still runs"
log_has service-unresponsive || fail "the watchdog left no log line"
wait_for 20 service_post /api/desktop-notifications/pending/add \
    '[{"id":"after-hang","messageTitle":"服务已更换","messageBody":"提醒照常"}]' || fail "the new service does not answer"
wait_for 30 log_has request-done 'POST /api/desktop-notifications/after-hang/mark-notified status=204' ||
    fail "the alert after the hang was not acknowledged"
alive
pass "a hung service is ended and replaced, and alerts flow again"

# 5. Without a notification server, four alerts take at most two dialogs.
dunstctl close-all || true
kill "$DUNST_PID"
sleep 1
service_post /api/desktop-notifications/pending/add "$(node -e '
    process.stdout.write(JSON.stringify(Array.from({ length: 4 }, (_, i) => ({ id: "burst-" + i,
        messageTitle: "连续提醒 " + i, messageBody: "第 " + i + " 条" }))));')"
wait_for 20 log_more 3 request-done 'burst-[0-9]/mark-notified status=204' ||
    fail "the burst was not acknowledged"
dialogs=0
while wait_for 5 dialog_window; do
    dialogs=$((dialogs + 1))
    [ "$dialogs" -le 2 ] || fail "more than two dialogs for four alerts"
    [ "$dialogs" = 2 ] && screenshot alert-health-burst
    keys_to "$(dialog_window)" Return
    sleep 1
done
[ "$dialogs" -ge 1 ] || fail "no fallback dialog"
echo "four alerts took $dialogs dialogs"
pass "a burst without a notification server takes at most two dialogs"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
pass "the shell ends cleanly"
