# UKUI's panel with its status area, on the X display of start_desktop;
# sourced after lib.sh, never run.

# The panel along the bottom of a 1000-pixel-high screen.
UKUI_PANEL_TOP=954
UKUI_PANEL_HEIGHT=46
# Its status area, left of the clock.
STATUS_AREA=(1000 "$UKUI_PANEL_TOP" 450 "$UKUI_PANEL_HEIGHT")

# The watcher (sni-daemon) and the panel with UKUI's default plugins, the
# status area among them, under UKUI's window manager.
start_ukui_panel() {
    export XDG_CURRENT_DESKTOP=UKUI
    restart_ukui_panel
}

# Starts the watcher and the panel, or starts them again once killed.
restart_ukui_panel() {
    sni-daemon >>"$E2E_TMP/sni-daemon.out" 2>&1 &
    UKUI_WATCHER_PID=$!
    E2E_PIDS+=($!)
    wait_for 20 name_owned org.kde.StatusNotifierWatcher ||
        { tail -n 20 "$E2E_TMP/sni-daemon.out" >&2; fail "the panel's watcher did not start"; }
    ukui-panel >>"$E2E_TMP/panel.out" 2>&1 &
    UKUI_PANEL_PID=$!
    E2E_PIDS+=($!)
    wait_for 20 ukui_panel_shown || { tail -n 20 "$E2E_TMP/panel.out" >&2; fail "the panel did not start"; }
}

ukui_panel_shown() { xdotool search --onlyvisible --pid "$UKUI_PANEL_PID" >/dev/null 2>&1; }

# The status area's menu is open: a second mapped window of the panel's.
status_menu_open() { [ "$(xdotool search --onlyvisible --pid "$UKUI_PANEL_PID" | wc -l)" -gt 1 ]; }
status_menu_closed() { ! status_menu_open; }
