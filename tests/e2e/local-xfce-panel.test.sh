#!/usr/bin/env bash
# The status item on Xfce's panel under X11, driven through the panel as a
# user would: one Q in the panel's own colour, light and dark; a click opens
# its menu; "显示Quorvel" brings the closed window back; "立即检查云端提醒"
# asks the service; the item is back soon after the panel restarts; "退出"
# ends the shell with status 0 and no service left.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xfce.sh"
run_started=$SECONDS
shot() { import -window root "$E2E_TMP/$1.png" && cp "$E2E_TMP/$1.png" "$E2E_ARTIFACTS/xfce-$1.png"; }
menu_open_shot() {
    open_status_menu
    screenshot "$1"
    xdotool key Escape
    wait_for 5 status_menu_closed || fail "Escape did not close the menu"
}
window_shown() { xdotool search --onlyvisible --name '^Quorvel$' | grep -qx "$MAIN_WINDOW"; }
window_hidden() { ! window_shown; }
dialog_gone() { ! dialog_window; }
answer_dialog() { keys_to "$(dialog_window)" Return; }

start_desktop
install_scripted_service
start_xfce_panel light
sleep 1
shot panel-empty

start_scripted_shell
wait_for 10 shell_item_registered || { registered_items >&2; fail "the panel did not take the item"; }
sleep 1
locate_item panel-with-item
# One icon, no label: at most a square of the panel's size.
[ "$ITEM_W" -le "$XFCE_PANEL_SIZE" ] && [ "$ITEM_H" -le "$XFCE_PANEL_SIZE" ] ||
    fail "the item is ${ITEM_W}x$ITEM_H, more than one icon"
keep_item_zoomed panel-with-item xfce-item-light
screenshot xfce-panel-light
pass "the panel shows the item, one icon wide"

close_with_alt_f4 "$MAIN_WINDOW" window_hidden || fail "Alt+F4 did not hide the window"
menu_open_shot xfce-menu-open
choose_from_status_menu Down Return
wait_for 10 window_shown || fail "显示Quorvel did not bring the window back"
# The window takes the focus as it comes back; the next menu waits for that.
sleep 1
pass "a right click on the item opens its menu; 显示Quorvel brings the window back"

# 立即检查云端提醒 is the fourth entry; its answer is shown over the window.
panel_check_now_asks_service dialog_window dialog_gone answer_dialog

# The paused Q, and the Q with a dot until the window is shown.
panel_shows_alert_states xfce window_hidden window_shown close_with_alt_f4 "$MAIN_WINDOW" window_hidden

# The panel killed and started again: the item is back within 5 s.
kill -KILL "$XFCE_PANEL_PID"
wait_for 10 watcher_gone ||
    fail "the panel's status area outlived the panel"
restart_xfce_panel
restarted=$SECONDS
wait_for 5 shell_item_registered || fail "the item did not come back within 5 s of the panel's restart"
echo "the item was back after $((SECONDS - restarted)) s"
sleep 1
locate_item panel-restarted
pass "the item comes back when the panel restarts"

# The dark panel draws the Q in its own light colour.
kill -TERM "$XFCE_PANEL_PID"
wait_for 10 bash -c "! kill -0 $XFCE_PANEL_PID"
xfconf-query -c xfce4-panel -p /panels/dark-mode -s true 2>/dev/null ||
    fail "the panel cannot be switched to dark"
restart_xfce_panel
wait_for 5 shell_item_registered || fail "the item did not come back on the dark panel"
sleep 1
shot panel-dark
keep_item_zoomed panel-dark xfce-item-dark
screenshot xfce-panel-dark

choose_from_status_menu Up Return
expect_clean_quit
echo "the Xfce run took $((SECONDS - run_started)) s"
