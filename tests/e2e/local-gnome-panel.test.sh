#!/usr/bin/env bash
# The status item on GNOME Shell's top bar with the AppIndicator extension
# (Ubuntu's default desktop), driven through the top bar as a user would:
# one Q, listed by the extension's watcher; a click opens its menu;
# "显示Quorvel" brings the closed window back; "立即检查云端提醒" asks the
# service; the item is back soon after the extension is switched off and
# on; "退出" ends the shell with status 0 and no service left.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/gnome.sh"
run_started=$SECONDS
EXTENSION=ubuntu-appindicators@ubuntu.com
# The right-hand part of the top bar, where status items go (the clock in
# the middle and the application menu on the left stay out of it).
STATUS_AREA=(1000 0 600 32)
shot() { gnome screenshot "$E2E_TMP/$1.png" && cp "$E2E_TMP/$1.png" "$E2E_ARTIFACTS/gnome-$1.png"; }
# The item's menu drops below it: the strip it covers is compared with the
# screen before the click.
status_menu_open() {
    gnome screenshot "$E2E_TMP/menu-probe.png" && changed_region "$E2E_TMP/menu-closed.png" \
        "$E2E_TMP/menu-probe.png" $((ITEM_X - 100)) 50 200 150 40
}
# Opens the item's menu with a right click on the item (a left click shows
# the window).
open_status_menu() {
    gnome screenshot "$E2E_TMP/menu-closed.png"
    click_until_status_menu_open gnome right-click "$ITEM_X" "$ITEM_Y" || fail "a right click on the item opens no menu"
}
# Picks an entry from the item's menu with the keyboard, as the menu takes it.
choose_from_status_menu() {
    open_status_menu
    gnome keys "$@"
}
extensions() {
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method "org.gnome.Shell.Extensions.$1" "$EXTENSION" >/dev/null
}
shell_windows_shown() { gnome windows | grep '"title": "Quorvel"' | grep -c '"is-hidden": false' || true; }
window_gone() { [ "$(shell_windows_shown)" = 0 ]; }
dialog_shown() { [ "$(shell_windows_shown)" -ge 2 ]; }
dialog_gone() { [ "$(shell_windows_shown)" = 1 ]; }

GNOME_EXTENSIONS=$EXTENSION start_gnome_desktop
wait_for 20 name_owned org.kde.StatusNotifierWatcher || fail "the extension's watcher did not start"
install_scripted_service
hold_input
shot panel-empty

start_app "$SCRIPTED_APP/quorvel"
wait_for 30 shell_window_shown || fail "the window did not appear"
wait_prepared 30
wait_for 10 shell_item_registered || { registered_items >&2; fail "the extension did not list the item"; }
sleep 1.5
locate_item top-bar-with-item
# One icon, no label: at most a square of the top bar's height.
[ "$ITEM_W" -le 32 ] && [ "$ITEM_H" -le 32 ] || fail "the item is ${ITEM_W}x$ITEM_H, more than one icon"
keep_item_zoomed top-bar-with-item gnome-item-zoomed
pass "the top bar shows the item, one icon wide"

gnome keys Alt_L+F4
wait_for 10 window_gone || fail "Alt+F4 did not hide the window"
open_status_menu
shot menu-open
gnome keys Escape
sleep 0.5
choose_from_status_menu Down Return
wait_for 10 shell_window_focused || fail "显示Quorvel did not bring the window back"
sleep 1
pass "a right click on the item opens its menu; 显示Quorvel brings the window back"

# 立即检查云端提醒 is the fourth entry; its answer is shown over the window.
panel_check_now_asks_service dialog_shown dialog_gone gnome keys Return

# The paused Q, and the Q with a dot until the window is shown.
panel_shows_alert_states gnome window_gone shell_window_focused gnome keys Alt_L+F4

# The extension switched off and on: the item is back within 5 s.
extensions DisableExtension
wait_for 10 watcher_gone ||
    fail "the watcher outlived the extension"
extensions EnableExtension
restarted=$SECONDS
wait_for 5 shell_item_registered || fail "the item did not come back within 5 s of the extension's return"
echo "the item was back after $((SECONDS - restarted)) s"
sleep 1.5
locate_item top-bar-restarted
pass "the item comes back when the extension is switched off and on"

# 退出 is the seventh and last entry (the top bar's menus do not wrap round).
choose_from_status_menu Down Down Down Down Down Down Down Return
expect_clean_quit
echo "the GNOME top bar run took $((SECONDS - run_started)) s"
