#!/usr/bin/env bash
# The cloud build shows its centred 1280x820 window titled "Quorvel"; closing
# the window leaves the process running; a terminate request ends it with 0.
source "$(dirname "$0")/lib.sh"
start_desktop

start_app "$E2E_BUILD_DIR/quorvel"
wait_main_window 30
sleep 1
read -r width height < <(xwininfo -id "$MAIN_WINDOW" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
[ "$width" = 1280 ] && [ "$height" = 820 ] || fail "window content is ${width}x${height}, not 1280x820"
pass "window titled Quorvel with 1280x820 content"
read -r x y < <(xwininfo -id "$MAIN_WINDOW" | awk '/Absolute upper-left X:/{x=$4} /Absolute upper-left Y:/{y=$4} END{print x, y}')
# Centred on the 1600x1000 screen, give or take the frame.
[ $((x + 640)) -gt 760 ] && [ $((x + 640)) -lt 840 ] || fail "window not centred horizontally (x=$x)"
pass "window centred"
[ -f "$XDG_DATA_HOME/Quorvel/.env" ] || fail "no configuration file in the data folder"
pass "data folder and configuration created"
screenshot window

wmctrl -i -c "$MAIN_WINDOW"
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." ||
    fail "closing did not hide the window"
sleep 1
kill -0 "$APP_PID" || fail "closing the window ended the process"
pass "closing the window hides it and the process keeps running"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end after SIGTERM"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS after a terminate request"
pass "terminate request ends the shell with status 0"
