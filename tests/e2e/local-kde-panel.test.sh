#!/usr/bin/env bash
# The status item on KDE Plasma's panel under Wayland, driven through the
# panel as a user would: one Q in the panel's colour, light and dark; a click
# opens its menu; "显示Quorvel" brings the closed window back;
# "立即检查云端提醒" asks the service; the item is back soon after Plasma's
# shell restarts; "退出" ends the shell with status 0 and no service left.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/kde.sh"
run_started=$SECONDS
# The status area of the panel at the bottom: left of the clock (its minutes
# change), right of the task bar (it lists the window).
STATUS_AREA=(1000 956 290 44)
# The translucent panel's shade shifts slightly: only larger changes count.
STATUS_AREA_TOLERANCE=40
shot() { kde_screenshot "$E2E_TMP/$1.png" && cp "$E2E_TMP/$1.png" "$E2E_ARTIFACTS/kde-$1.png"; }
# The item's darkest and lightest grey, 0 to 255.
item_greys() {
    convert "$E2E_TMP/$1.png" -crop "22x22+$((ITEM_X - 11))+$((ITEM_Y - 11))" -colorspace Gray \
        -format '%[fx:int(255*minima)] %[fx:int(255*maxima)]\n' info:
}
# The item's menu opens above it; the strip it covers is compared with the
# screen before the click (below the strip, the item's tooltip comes and goes
# on its own).
status_menu_open() {
    kde_screenshot "$E2E_TMP/menu-probe.png" && changed_region "$E2E_TMP/menu-closed.png" "$E2E_TMP/menu-probe.png" \
        $((ITEM_X - 150)) 800 300 100 40
}
# Opens the item's menu with a right click on the item (a left click shows
# the window).
open_status_menu() {
    kde_screenshot "$E2E_TMP/menu-closed.png"
    click_until_status_menu_open kwin_input right-click "$ITEM_X" "$ITEM_Y" || fail "a right click on the item opens no menu"
}
# Picks an entry from the item's menu with the keyboard, as the menu takes it.
choose_from_status_menu() {
    open_status_menu
    kwin_input keys "$@"
}
# The shell's windows on screen, as KWin's window search finds them by title.
shell_windows_shown() {
    gdbus call --session --dest org.kde.KWin --object-path /WindowsRunner \
        --method org.kde.krunner1.Match Quorvel | grep -o "', 'Quorvel', '" | wc -l
}
window_shown() { [ "$(shell_windows_shown)" = 1 ]; }
window_gone() { [ "$(shell_windows_shown)" = 0 ]; }
host_gone() { ! plasma_status_area_up; }

start_kde_desktop
install_scripted_service
sleep 3
shot panel-empty

start_app "$SCRIPTED_APP/quorvel"
wait_for 30 window_shown || fail "the window did not appear"
wait_prepared 30
wait_for 10 shell_item_registered || { registered_items >&2; fail "the panel did not take the item"; }
sleep 2
locate_item panel-with-item
# One icon, no label: at most a square of the panel's height.
[ "$ITEM_W" -le 44 ] && [ "$ITEM_H" -le 44 ] || fail "the item is ${ITEM_W}x$ITEM_H, more than one icon"
keep_item_zoomed panel-with-item kde-item-light
read -r darkest lightest < <(item_greys panel-with-item)
[ "$darkest" -lt 80 ] || fail "the Q is not dark on the light panel (darkest grey $darkest)"
pass "the panel shows the item, one icon wide"

kwin_input keys Alt+F4
wait_for 10 window_gone || fail "Alt+F4 did not hide the window"
open_status_menu
shot menu-open
kwin_input keys Escape
sleep 0.5
choose_from_status_menu Down Return
wait_for 10 window_shown || fail "显示Quorvel did not bring the window back"
sleep 1
pass "a right click on the item opens its menu; 显示Quorvel brings the window back"

# 立即检查云端提醒 is the fourth entry; its answer is shown over the window
# (KWin's window search leaves dialogs out: the screen tells).
WINDOW_AREA=(300 200 1000 500)
over_window() { shot "$1" && changed_region "$E2E_TMP/window-back.png" "$E2E_TMP/$1.png" "${WINDOW_AREA[@]}" 40; }
answer_shown() { over_window check-now; }
answer_gone() { ! over_window answer-dismissed; }
shot window-back
panel_check_now_asks_service answer_shown answer_gone kwin_input keys Return

# The paused Q, and the Q with a dot until the window is shown.
panel_shows_alert_states kde window_gone window_shown kwin_input keys Alt+F4

# Plasma's shell killed and started again: the item is on its panel within
# 5 s of the panel's return.
kill -KILL "$PLASMASHELL_PID"
wait_for 10 host_gone || fail "the status area outlived Plasma's shell"
shell_item_registered || fail "the item is no longer registered with kded's watcher"
restarted=$SECONDS
start_plasmashell
host_back=$SECONDS
shown_again() { shot panel-restarted && item_place panel-restarted; }
wait_for 5 shown_again || fail "the item was not on the panel within 5 s of its return"
echo "the panel was back after $((host_back - restarted)) s, the item on it $((SECONDS - host_back)) s later"
locate_item panel-restarted
pass "the item comes back when Plasma's shell restarts"

# Breeze Dark as a user picks it: the colour scheme (what icons are drawn
# in) and the Plasma theme (the panel). Plasma's shell applies the colour
# scheme to status icons when it starts: start it again.
plasma-apply-colorscheme BreezeDark >/dev/null 2>&1 &&
    plasma-apply-desktoptheme breeze-dark >/dev/null 2>&1 || fail "Plasma cannot be switched to dark"
kill -TERM "$PLASMASHELL_PID"
wait_for 10 host_gone || fail "Plasma's shell did not end"
start_plasmashell
sleep 3
shot panel-dark
keep_item_zoomed panel-dark kde-item-dark
read -r darkest lightest < <(item_greys panel-dark)
[ "$lightest" -gt 200 ] || fail "the Q is not light on the dark panel (lightest grey $lightest)"
pass "the Q is drawn in the panel's colour, light and dark"

# 退出 is the seventh and last entry.
choose_from_status_menu Down Down Down Down Down Down Down Return
expect_clean_quit
echo "the KDE Plasma run took $((SECONDS - run_started)) s"
