#!/usr/bin/env bash
# The command line and the start at login, on Xfce's panel under X11:
# --version and --help answer without a display and without touching a
# running instance; anything else is one line on standard error and status 2;
# --background starts the shell with its status item, service and alerts but
# no window, and a later plain start shows the window; "登录时启动" in the
# item's menu writes the autostart entry, and a second click removes it.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xfce.sh"

# Checks one answer of the command line: status, standard output (a regular
# expression, or empty for no output), and the number of lines on standard error.
expect_answer() {
    local status=$1 out=$2 err_lines=$3
    shift 3
    local got=0
    "$@" >"$E2E_TMP/cli.out" 2>"$E2E_TMP/cli.err" || got=$?
    [ "$got" = "$status" ] || fail "$* ended with status $got, not $status"
    if [ -z "$out" ]; then [ ! -s "$E2E_TMP/cli.out" ]; else grep -Eq -e "$out" "$E2E_TMP/cli.out"; fi || fail "$* printed: $(cat "$E2E_TMP/cli.out")"
    [ "$(wc -l <"$E2E_TMP/cli.err")" = "$err_lines" ] || fail "$* wrote to stderr: $(cat "$E2E_TMP/cli.err")"
}
command_line_answers() {
    expect_answer 0 '^Quorvel [0-9]+\.[0-9]+\.[0-9]+$' 0 "$@" --version
    expect_answer 0 '--background' 0 "$@" --help
    expect_answer 2 '' 1 "$@" --no-such-option
    expect_answer 2 '' 1 "$@" some-file
}

shot() { import -window root "$E2E_TMP/$1.png"; }
any_window() { xdotool search --onlyvisible --name '^Quorvel$' | grep -q .; }
no_window() { ! any_window; }
ENTRY_NAME=io.quorvel.Desktop.desktop

fresh_user
env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
    bash -c "$(declare -f expect_answer command_line_answers fail); E2E_TMP=$E2E_TMP; command_line_answers $E2E_BUILD_DIR/quorvel"
pass "--version, --help and wrong arguments answer without a display or a bus"

start_desktop
install_scripted_service
start_xfce_panel light
sleep 1
shot panel-empty

start_app "$SCRIPTED_APP/quorvel" --background
wait_for 10 shell_item_registered || fail "the panel did not take the item"
wait_for 30 log_has request-done 'POST /api/desktop-notifications/initialize status=204' ||
    fail "the shell started in the background did not announce itself"
sleep 2
no_window || fail "--background showed a window"
service_post /api/desktop-notifications/pending/add \
    '[{"id":"bg-1","messageTitle":"后台提醒","messageBody":"started at login"}]' ||
    fail "could not add an alert"
wait_for 20 dunst_showed "后台提醒" || fail "the alert was not shown"
no_window || fail "the alert showed the window"
pass "--background: item registered, no window, the alert shown as a notification"

command_line_answers "$SCRIPTED_APP/quorvel"
no_window || fail "an option showed the running instance's window"
pass "--version and --help leave the running instance alone"
expect_answer 0 '' 0 "$SCRIPTED_APP/quorvel" --background
no_window || fail "a second --background showed the window"

locate_item panel-with-item
open_status_menu
screenshot start-at-login-status-menu-off
xdotool key Escape
wait_for 5 status_menu_closed || fail "Escape did not close the menu"

# "登录时启动" is the entry above the separator over "退出".
choose_from_status_menu Up Up Return
entry=$XDG_CONFIG_HOME/autostart/$ENTRY_NAME
wait_for 5 test -f "$entry" || fail "登录时启动 wrote no autostart entry"
grep -qx "Exec=$SCRIPTED_APP/quorvel --background" "$entry" || fail "the entry runs: $(grep Exec "$entry")"
desktop-file-validate "$entry" || fail "the autostart entry is not valid"
open_status_menu
screenshot start-at-login-status-menu-on
xdotool key Escape
wait_for 5 status_menu_closed || fail "Escape did not close the menu"
choose_from_status_menu Up Up Return
wait_for 5 test ! -e "$entry" || fail "a second click left the autostart entry"
pass "登录时启动 writes the autostart entry and a second click removes it"

# A plain start shows the window of the instance in the background.
expect_answer 0 '' 0 "$SCRIPTED_APP/quorvel"
wait_main_window 15
pass "a plain start shows the window"

# The application menu "Quorvel" with its entry.
xdotool windowactivate --sync "$MAIN_WINDOW" 2>/dev/null || true
xdotool mousemove --window "$MAIN_WINDOW" 30 12 click 1
sleep 0.7
screenshot start-at-login-application-menu
xdotool key Escape

choose_from_status_menu Up Return
expect_clean_quit
