# A KDE Plasma session for the end-to-end scripts, headless and Wayland only
# (KWin on a virtual output, Plasma's shell with its panel at the bottom);
# sourced after lib.sh, never run.

# Input through KWin's fake-input protocol, built with the tests.
kwin_input() { "$E2E_BUILD_DIR/tests/e2e/kwin-input" "$@"; }
kde_screenshot() { /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/kwin-screenshot.py" "$@"; }

start_kde_desktop() {
    fresh_user
    install_desktop_entry
    unset DISPLAY
    export XDG_RUNTIME_DIR=$E2E_TMP/runtime
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    local started=$SECONDS
    # The installed compositor carries a file capability that an unprivileged
    # namespace cannot grant; a plain copy starts.
    cp /usr/bin/kwin_wayland "$E2E_TMP/kwin_wayland"
    WAYLAND_NAME=quorvel-e2e-kde
    KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 \
        "$E2E_TMP/kwin_wayland" --virtual --width 1600 --height 1000 --socket "$WAYLAND_NAME" \
        --no-lockscreen >"$E2E_TMP/kwin.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 30 test -S "$XDG_RUNTIME_DIR/$WAYLAND_NAME" ||
        { tail -n 30 "$E2E_TMP/kwin.out" >&2; fail "KWin did not start"; }
    wait_for 30 name_owned org.kde.KWin || fail "KWin did not join the session bus"
    export WAYLAND_DISPLAY=$WAYLAND_NAME QT_QPA_PLATFORM=wayland QT_QUICK_BACKEND=software
    # The session bus starts nothing on demand: Plasma's own daemons first.
    # Activities before kded, whose start-up configuration updates wait for
    # them (and are killed after 30 s without).
    /usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd >"$E2E_TMP/activities.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 30 name_owned org.kde.ActivityManager ||
        { cat "$E2E_TMP/activities.out" >&2; fail "the activity manager did not start"; }
    kded5 >"$E2E_TMP/kded.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 60 gdbus call --timeout 2 --session --dest org.kde.kded5 --object-path /kded \
        --method org.kde.kded5.loadedModules || fail "kded did not start"
    # The status area's watcher is a module of kded that the session manager
    # would have it load.
    gdbus call --session --dest org.kde.kded5 --object-path /kded \
        --method org.kde.kded5.loadModule statusnotifierwatcher >/dev/null ||
        fail "kded did not load the status area's watcher"
    start_plasmashell
    echo "KDE Plasma ready after $((SECONDS - started)) s"
    export GDK_BACKEND=wayland
}

# True once Plasma's shell hosts status items (its host has joined the bus).
plasma_status_area_up() { name_owned "org.kde.StatusNotifierHost-$PLASMASHELL_PID"; }

# Starts Plasma's shell, or starts it again once it has been killed.
start_plasmashell() {
    plasmashell --no-respawn >>"$E2E_TMP/plasmashell.out" 2>&1 &
    PLASMASHELL_PID=$!
    E2E_PIDS+=($!)
    wait_for 60 plasma_status_area_up ||
        { tail -n 30 "$E2E_TMP/plasmashell.out" >&2; fail "Plasma's status area did not start"; }
}
