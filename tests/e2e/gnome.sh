# A GNOME Shell session for the end-to-end scripts, headless and Wayland only;
# sourced after lib.sh, never run.

# Drives the session (overview, screenshots, windows, keys, clicks).
gnome() {
    if [ -n "${GNOME_HELD_PID:-}" ]; then
        held "$@"
    else
        /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/gnome.py" "$@"
    fi
}

# GNOME Shell as the Wayland compositor with its notification server, on a
# private system bus (it stops without one), for a fresh user whose desktop
# entries include the shell's own. Every D-Bus message about notifications is
# recorded in $NOTIFICATION_TRAFFIC, every call to the shell's application
# object in $APPLICATION_TRAFFIC.
start_gnome_desktop() {
    fresh_user
    unset DISPLAY
    export XDG_RUNTIME_DIR=$E2E_TMP/runtime
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    install_desktop_entry

    dbus-daemon --config-file="$E2E_SOURCE_DIR/tests/e2e/system.conf" --nofork \
        --address="unix:path=$E2E_TMP/system-bus" >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_TMP/system-bus
    wait_for 10 test -S "$E2E_TMP/system-bus" || fail "the system bus did not start"

    NOTIFICATION_TRAFFIC=$E2E_TMP/notification-traffic.txt
    dbus-monitor --session "interface='org.freedesktop.Notifications'" >"$NOTIFICATION_TRAFFIC" 2>&1 &
    E2E_PIDS+=($!)
    # Calls to the running instance (a second start hands over to it).
    APPLICATION_TRAFFIC=$E2E_TMP/application-traffic.txt
    dbus-monitor --session "path='/io/quorvel/Desktop'" >"$APPLICATION_TRAFFIC" 2>&1 &
    E2E_PIDS+=($!)

    local started=$SECONDS
    WAYLAND_NAME=quorvel-e2e
    # Settings in memory (the session has no settings service to write
    # through), or in a key file when extensions are to be on: the status
    # area of Ubuntu's GNOME is GNOME_EXTENSIONS=ubuntu-appindicators@ubuntu.com.
    local backend=memory
    if [ -n "${GNOME_EXTENSIONS:-}" ]; then
        backend=keyfile
        mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
        printf "[org/gnome/shell]\nenabled-extensions=['%s']\n" "$GNOME_EXTENSIONS" \
            >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
    fi
    GSETTINGS_BACKEND=$backend gnome-shell --headless --wayland --no-x11 \
        --virtual-monitor 1600x1000 --wayland-display="$WAYLAND_NAME" >"$E2E_TMP/shell.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 60 name_owned org.gnome.Shell.Screenshot ||
        { tail -n 30 "$E2E_TMP/shell.out" >&2; fail "GNOME Shell did not start"; }
    # The shell would have D-Bus start its notification server on demand.
    gjs /usr/share/gnome-shell/org.gnome.Shell.Notifications >"$E2E_TMP/notifications.out" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 30 name_owned org.freedesktop.Notifications || fail "GNOME's notification server did not start"
    gnome overview-off || fail "the overview did not close"
    echo "GNOME Shell ready after $((SECONDS - started)) s"

    export WAYLAND_DISPLAY=$WAYLAND_NAME GDK_BACKEND=wayland
}

# The shell's windows as JSON lines; `shell_window` is ours, once mapped.
shell_window() { gnome windows | grep '"title": "Quorvel"' | head -n 1; }
shell_window_shown() { shell_window | grep -q '"is-hidden": false'; }
shell_window_focused() { shell_window | grep -q '"has-focus": true'; }
gnome_screenshot() {
    gnome screenshot "$E2E_ARTIFACTS/$1.png" || fail "no screenshot"
    echo "screenshot: $E2E_ARTIFACTS/$1.png"
}

# One input session held open across screenshots, clicks and keys (see
# `gnome.py hold`), for finding and clicking things on the top bar, which
# the session's own sharing indicator rearranges. While it is held, `gnome`
# goes through it (only one helper at a time may own the allow-listed name).
hold_input() {
    mkfifo "$E2E_TMP/held-in" "$E2E_TMP/held-out"
    /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/gnome.py" hold \
        <"$E2E_TMP/held-in" >"$E2E_TMP/held-out" 2>>"$E2E_TMP/held-input.err" &
    GNOME_HELD_PID=$!
    E2E_PIDS+=("$GNOME_HELD_PID")
    exec 7>"$E2E_TMP/held-in" 8<"$E2E_TMP/held-out"
    # The sharing indicator comes once the session has started.
    sleep 1.5
}
# Runs one command in the held session; prints what it answers.
held() {
    local line
    echo "$*" >&7
    while read -r line <&8; do
        case $line in
        ok) return 0 ;;
        "error: "*) echo "held $1: $line" >&2; return 1 ;;
        *) printf '%s\n' "$line" ;;
        esac
    done
    echo "the held input session ended" >&2
    return 1
}
