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

# Starting the program again hands over to the running one, which shows its window.
timeout 30 "$E2E_BUILD_DIR/quorvel" >"$E2E_TMP/second.out" 2>&1 || fail "the second start did not end cleanly"
wait_for 10 bash -c "xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." ||
    fail "starting the program again did not bring the window back"
kill -0 "$APP_PID" || fail "the first instance ended"
pass "a second start shows the running instance's window"
screenshot window-again
# Its shortcuts still work: Ctrl+L copies the address and confirms in a dialog.
MAIN_WINDOW=$(xdotool search --onlyvisible --name '^Quorvel$' | head -n 1)
keys_to "$MAIN_WINDOW" ctrl+l
wait_for 10 bash -c "[ \$(xdotool search --onlyvisible --name '^Quorvel\$' | wc -l) -ge 2 ]" ||
    fail "Ctrl+L did nothing in the window shown again"
[ "$(xclip -o -selection clipboard)" = "$(sed -n 's/^QUORVEL_CLOUD_BASE_URL:STRING=//p' "$E2E_BUILD_DIR/CMakeCache.txt")" ] || fail "the cloud address was not copied"
xdotool key Return
pass "the window shown again keeps its menu shortcuts"

kill -TERM "$APP_PID"
wait_app_exit 15 || fail "the shell did not end after SIGTERM"
[ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS after a terminate request"
pass "terminate request ends the shell with status 0"
