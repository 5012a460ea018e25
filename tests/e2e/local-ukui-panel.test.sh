#!/usr/bin/env bash
# The status item on UKUI's panel under X11, driven through the panel as a
# user would: the Q stands out from the panel although the panel draws icons
# as they are and ignores the item's icon folder; a left click shows the
# closed window; the right-click menu's "显示Quorvel" does too; the item is
# back soon after the panel and its watcher restart; "退出" ends the shell
# with status 0 and no service left.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/ukui.sh"
run_started=$SECONDS
shot() { import -window root "$E2E_TMP/$1.png" && cp "$E2E_TMP/$1.png" "$E2E_ARTIFACTS/ukui-$1.png"; }
# Luminance (0 to 255) of a screenshot's area, as "MIN MAX MEAN".
luminance() {
    convert "$1" -crop "$2" -colorspace Gray -format '%[fx:int(255*minima)] %[fx:int(255*maxima)] %[fx:int(255*mean)]\n' info:
}
# The Q stands out from the panel: some pixel of the item differs from the
# panel beside it by at least 100 of 255 in luminance.
item_stands_out() {
    local min max mean background
    read -r min max mean < <(luminance "$E2E_TMP/$1.png" "${ITEM_W}x$ITEM_H+$((ITEM_X - ITEM_W / 2))+$((ITEM_Y - ITEM_H / 2))")
    read -r _ _ background < <(luminance "$E2E_TMP/$1.png" "8x8+$((ITEM_X - 40))+$((ITEM_Y - 4))")
    local difference=$((max - background > background - min ? max - background : background - min))
    echo "the Q's luminance differs from the panel's by $difference of 255"
    [ "$difference" -ge 100 ] || fail "the Q hardly stands out from the panel ($difference of 255)"
}
window_shown() { xdotool search --onlyvisible --name '^Quorvel$' | grep -q .; }
window_hidden() { ! window_shown; }
close_window() { close_with_alt_f4 "$(main_window)" window_hidden; }

start_desktop
install_scripted_service
start_ukui_panel
sleep 2
shot panel-empty

start_scripted_shell
wait_for 10 shell_item_registered || { registered_items >&2; fail "the watcher does not list the item"; }
sleep 1
locate_item panel-with-item
[ "$ITEM_W" -le 32 ] && [ "$ITEM_H" -le 32 ] || fail "the item is ${ITEM_W}x$ITEM_H, more than one icon"
keep_item_zoomed panel-with-item ukui-item
screenshot ukui-panel
item_stands_out panel-with-item
pass "the watcher lists the item, and the panel shows a Q that stands out"

close_window || fail "Alt+F4 did not hide the window"
xdotool mousemove "$ITEM_X" "$ITEM_Y" click 1
wait_for 10 window_shown || { screenshot ukui-left-click; fail "a left click on the item did not show the window"; }
sleep 1
pass "a left click on the item shows the closed window"

close_window || fail "Alt+F4 did not hide the window"
open_status_menu
screenshot ukui-menu-open
xdotool key Escape
wait_for 5 status_menu_closed || fail "Escape did not close the menu"
choose_from_status_menu Down Return
wait_for 10 window_shown || fail "显示Quorvel did not bring the window back"
sleep 1
pass "a right click opens the item's menu; 显示Quorvel brings the window back"

# Not installed, the item names no icon the panel could find: it shows the
# item's images.
STATUS_ICON_NAME=
panel_shows_alert_states ukui window_hidden window_shown close_window

# The panel and its watcher killed and started again: the item is back.
kill -KILL "$UKUI_PANEL_PID" "$UKUI_WATCHER_PID"
wait_for 10 watcher_gone || fail "the watcher outlived its kill"
restart_ukui_panel
restarted=$SECONDS
wait_for 10 shell_item_registered || fail "the item did not come back within 10 s of the panel's restart"
echo "the item was back after $((SECONDS - restarted)) s"
sleep 2
locate_item panel-restarted
pass "the item comes back when the panel restarts"

choose_from_status_menu Up Return
expect_clean_quit
echo "the UKUI run took $((SECONDS - run_started)) s"
