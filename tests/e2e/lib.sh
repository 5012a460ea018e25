# Helpers shared by the end-to-end scripts; sourced, never run.
set -euo pipefail

E2E_TMP=$(mktemp -d /tmp/quorvel-e2e.XXXXXX)
E2E_PIDS=()
APP_PID=

cleanup() {
    local status=$?
    if [ -n "${APP_PID}" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill -KILL "$APP_PID" 2>/dev/null || true
    fi
    # Newest first; whatever ignores SIGTERM for 5 s is killed.
    local i pid deadline=$((SECONDS + 5))
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        kill "${E2E_PIDS[i]}" 2>/dev/null || true
    done
    for pid in "${E2E_PIDS[@]}"; do
        while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [ -n "${LOG_FILE:-}" ] && [ -f "$LOG_FILE" ]; then
        cp "$LOG_FILE" "$E2E_ARTIFACTS/$(basename "$0" .test.sh).log" 2>/dev/null || true
    fi
    if [ "$status" -ne 0 ] && [ -d "$E2E_TMP/home" ]; then
        find "$E2E_TMP/home" -name '*.log' -exec sh -c 'echo "--- $1"; tail -n 40 "$1"' _ {} \; >&2
    fi
    # The web engine's helpers may still be writing their caches for a moment.
    rm -rf "$E2E_TMP" 2>/dev/null || { sleep 1; rm -rf "$E2E_TMP"; }
    exit "$status"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

pass() { echo "ok: $*"; }

# Polls a command until it succeeds, for at most $1 seconds.
wait_for() {
    local timeout=$1
    shift
    local deadline=$((SECONDS + timeout))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# A display with a window manager and a notification server.
start_desktop() {
    local display_number
    for display_number in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ] || break
    done
    export DISPLAY=":$display_number"
    Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    wait_for 20 xdpyinfo || fail "Xvfb did not start"
    dbus-update-activation-environment DISPLAY >/dev/null 2>&1 || true
    openbox >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    dunst -config "$E2E_SOURCE_DIR/tests/e2e/dunstrc" >/dev/null 2>&1 &
    DUNST_PID=$!
    E2E_PIDS+=($!)
    wait_for 20 dunstctl count || fail "dunst did not start"
    fresh_user
}

# A fresh user: data folder under a private home.
fresh_user() {
    export HOME=$E2E_TMP/home
    export XDG_DATA_HOME=$HOME/.local/share
    export XDG_CONFIG_HOME=$HOME/.config
    export XDG_CACHE_HOME=$HOME/.cache
    mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
    export NO_AT_BRIDGE=1
    DATA_DIR=$XDG_DATA_HOME/Quorvel
    LOG_FILE=$DATA_DIR/desktop-notifications.log
}

# Starts the shell (a path to its executable, or a command that execs it) in
# the background.
start_app() {
    "$@" >"$E2E_TMP/app.out" 2>&1 &
    APP_PID=$!
}

# The id of the shell's main window, once it is mapped.
main_window() {
    xdotool search --sync --onlyvisible --name '^Quorvel$' 2>/dev/null | head -n 1
}

wait_main_window() {
    wait_for "${1:-30}" bash -c "xdotool search --onlyvisible --name '^Quorvel\$' | grep -q ." ||
        fail "the main window did not appear"
    MAIN_WINDOW=$(xdotool search --onlyvisible --name '^Quorvel$' | head -n 1)
}

screenshot() {
    import -window root "$E2E_ARTIFACTS/$1.png"
    echo "screenshot: $E2E_ARTIFACTS/$1.png"
}

# Sends keys to the focused window after activating the given one (--sync
# waits until the window manager reports it active).
keys_to() {
    local window=$1
    shift
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    sleep 0.3
    xdotool key --delay 80 "$@"
}

# Closes the X11 window $1 with Alt+F4, as a user would, and waits until the
# run's test $2 (a hidden window) holds. On a loaded machine the window
# manager, with the window active, now and then lets the first press pass:
# the run notes it, and presses once more.
close_with_alt_f4() {
    local window=$1 hidden=$2
    keys_to "$window" alt+F4
    wait_for 5 "$hidden" && return 0
    echo "the window was still shown 5 s after Alt+F4 (active: $(xdotool getactivewindow 2>/dev/null)); pressing it again"
    keys_to "$window" alt+F4
    wait_for 10 "$hidden"
}

# Waits for the shell to exit and sets EXIT_STATUS.
wait_app_exit() {
    local timeout=${1:-15}
    local deadline=$((SECONDS + timeout))
    while kill -0 "$APP_PID" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
    EXIT_STATUS=0
    wait "$APP_PID" || EXIT_STATUS=$?
    APP_PID=
}

# A copy of the local build whose bundled service is the scripted one, so the
# shell launches it on 45721 as it would launch the real service. It starts
# with no pending alerts.
install_scripted_service() {
    SCRIPTED_APP=$E2E_TMP/app
    mkdir -p "$SCRIPTED_APP/web"
    cp "$E2E_BUILD_DIR/quorvel" "$SCRIPTED_APP/quorvel"
    cp "$E2E_SOURCE_DIR/tests/e2e/service/server.js" "$SCRIPTED_APP/web/server.js"
    cp -r "$E2E_BUILD_DIR/icons" "$SCRIPTED_APP/icons"
    export E2E_LOG=$E2E_TMP/requests.jsonl
    : >"$E2E_LOG"
    export E2E_PENDING='[]'
    # One line "PID MILLISECONDS" per start of the service; while the die
    # file exists, each start ends at once with status 1.
    export E2E_STARTS=$E2E_TMP/service-starts.txt
    : >"$E2E_STARTS"
    export E2E_DIE_FILE=$E2E_TMP/service-dies-at-start
}

# The page the scripted service serves at /: an HTML document titled $1
# whose body is read from standard input.
serve_page() {
    export E2E_PAGE=$E2E_TMP/page.html
    { echo "<!doctype html><meta charset=\"utf-8\"><title>$1</title>"; cat; } >"$E2E_PAGE"
}

# A page in one colour ($1) with a line of text ($2) that reports each of
# its loads to the service, with the time (page_reports lists them).
serve_load_reporting_page() {
    serve_page page <<HTML
<body style="margin:0;background:$1;color:white;font:48px sans-serif">$2
<script>fetch('/report', { method: 'POST', body: String(Date.now()) });</script>
HTML
}

# True when the scripted service saw a request whose "METHOD URL" matches.
service_saw() {
    node -e '
        const [file, pattern] = process.argv.slice(1);
        const lines = require("fs").readFileSync(file, "utf8").split("\n").filter(Boolean);
        const re = new RegExp(pattern);
        process.exit(lines.some((l) => { const r = JSON.parse(l); return re.test(r.method + " " + r.url); }) ? 0 : 1);
    ' "$E2E_LOG" "$1"
}

# The bodies of the page's reports, one a line.
page_reports() {
    node -e '
        const lines = require("fs").readFileSync(process.argv[1], "utf8").split("\n").filter(Boolean);
        for (const l of lines) { const r = JSON.parse(l); if (r.url === "/report") console.log(r.body); }
    ' "$E2E_LOG"
}

# Sends a body to the scripted service (POST PATH BODY), on 127.0.0.1:45721
# unless E2E_SERVICE_HOST and E2E_SERVICE_PORT say otherwise.
service_post() {
    node -e '
        const [path, body, host, port] = process.argv.slice(1);
        const req = require("http").request({ host, port: Number(port), method: "POST", path },
            (res) => process.exit(res.statusCode < 300 ? 0 : 1));
        req.on("error", () => process.exit(1));
        req.end(body);' "$1" "$2" "${E2E_SERVICE_HOST:-127.0.0.1}" "${E2E_SERVICE_PORT:-45721}"
}

# The log lines of one event: those whose text starts with the event's key
# (src/service/LogEvents.h), printed from the key on; given an extended
# regular expression, only those that also match it. Another shell's log:
# LOG_FILE=PATH log_lines ...
log_lines() {
    { sed -nE "s/^\[[^]]*\] ($1( .*)?)\$/\1/p" "$LOG_FILE" 2>/dev/null || true; } | grep -E -- "${2:-.}" || true
}
# How many there are: log_events KEY [ERE].
log_events() { log_lines "$@" | grep -c . || true; }
# Whether there are more than N of them: log_more N KEY [ERE].
log_more() {
    local n=$1
    shift
    [ "$(log_events "$@")" -gt "$n" ]
}
# Whether there is one: log_has KEY [ERE].
log_has() { log_more 0 "$@"; }

# The shell's desktop entry and icons for the fresh user, as a package
# installs them, so that the desktop ties the window to them and the status
# item's icon is in the desktop's icon theme.
install_desktop_entry() {
    mkdir -p "$XDG_DATA_HOME/applications"
    # GLib lists an entry only when its program exists.
    sed "s|^Exec=.*|Exec=$E2E_BUILD_DIR/quorvel|" "$E2E_SOURCE_DIR/data/io.quorvel.Desktop.desktop" \
        >"$XDG_DATA_HOME/applications/io.quorvel.Desktop.desktop"
    mkdir -p "$XDG_DATA_HOME/icons/hicolor/scalable/apps"
    cp "$E2E_SOURCE_DIR/data/icons/io.quorvel.Desktop.svg" "$XDG_DATA_HOME/icons/hicolor/scalable/apps/"
    cp -r "$E2E_SOURCE_DIR/data/icons/status/hicolor" "$XDG_DATA_HOME/icons/"
}

# Waits until the shell has announced itself after the probe and the page load.
wait_prepared() {
    wait_for "${1:-30}" log_more 1 request-done 'POST /api/desktop-notifications/initialize status=204' ||
        fail "the shell was not prepared"
}

# Starts the copy of install_scripted_service and waits for its window and
# for the shell to be prepared.
start_scripted_shell() {
    start_app "$SCRIPTED_APP/quorvel"
    wait_main_window 30
    wait_prepared 30
}

# A visible dialog of the shell: a window named "Quorvel" other than the main one.
dialog_window() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Quorvel$' 2>/dev/null); do
        [ "$id" != "$MAIN_WINDOW" ] && { echo "$id"; return 0; }
    done
    return 1
}

port_open() { bash -c 'exec 3<>/dev/tcp/127.0.0.1/45721' 2>/dev/null; }

# The pid of the node process that works in the given web folder: the
# bundled service.
service_pid() {
    local pid
    for pid in $(pgrep -x node); do
        [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$1" ] && { echo "$pid"; return 0; }
    done
    return 1
}

# True while a node process works in the given web folder.
service_running_in() { service_pid "$1" >/dev/null; }

# The token the bundled service in the given web folder was started with:
# what every request to its API must carry.
service_token() {
    local pid
    pid=$(service_pid "$1") || return 1
    tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^QUORVEL_SERVICE_TOKEN=//p'
}

# The engine's web processes started by the shell (through bubblewrap or not).
web_processes() {
    local pid parent
    for pid in $(pgrep -x WebKitWebProces); do
        parent=$pid
        while [ "$parent" -gt 1 ] && [ "$parent" != "$APP_PID" ]; do
            parent=$(awk '{ print $4 }' "/proc/$parent/stat" 2>/dev/null || echo 1)
        done
        [ "$parent" = "$APP_PID" ] && echo "$pid"
    done
    return 0
}

# True when dunst has shown a notification containing the text (those still
# on screen are closed first: dunst lists only closed ones).
dunst_showed() {
    dunstctl close-all >/dev/null 2>&1 || true
    sleep 0.3
    dunstctl history | grep -qF "$1"
}

# A private system bus (DBUS_SYSTEM_BUS_ADDRESS), for the peers the shell
# listens to there.
start_system_bus() {
    dbus-daemon --config-file="$E2E_SOURCE_DIR/tests/e2e/system.conf" --nofork \
        --address="unix:path=$E2E_TMP/system-bus" >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$E2E_TMP/system-bus
    wait_for 10 test -S "$E2E_TMP/system-bus" || fail "the system bus did not start"
}

# A login manager on the private system bus: `kill -USR1 $LOGIN_MANAGER_PID`
# makes it announce a resume (PrepareForSleep false), -USR2 a suspend; each
# announcement is a line in $LOGIN_MANAGER_SIGNALS.
start_login_manager() {
    LOGIN_MANAGER_SIGNALS=$E2E_TMP/login-manager-signals.txt
    : >"$LOGIN_MANAGER_SIGNALS"
    /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/helpers/logind.py" "$LOGIN_MANAGER_SIGNALS" &
    LOGIN_MANAGER_PID=$!
    E2E_PIDS+=($!)
    wait_for 10 gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetNameOwner org.freedesktop.login1 ||
        fail "the login manager did not start"
}

# True while some program owns the name on the session bus.
name_owned() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetNameOwner "$1"
}

# How many times the scripted service was asked for the pending alerts.
pending_requests() { grep -c '"url":"/api/desktop-notifications/pending"' "$E2E_LOG" || true; }

port_closed() { ! port_open; }

# After "退出": the shell ended with status 0 and stopped its service, and
# printed no critical warning and no warning of its own (the engine's web
# process has a name of its own).
expect_clean_quit() {
    wait_app_exit 15 || fail "退出 did not end the shell"
    [ "$EXIT_STATUS" = 0 ] || fail "exit status $EXIT_STATUS"
    wait_for 10 port_closed || fail "the service outlived the shell"
    no_critical_output
    if grep -E '\(quorvel:[0-9]+\): .*WARNING' "$E2E_TMP/app.out" >&2; then
        fail "the shell printed warnings"
    fi
    pass "退出 ends the shell with status 0 and stops the service; nothing on standard error"
}

# Fails when the shell wrote a toolkit's critical warning to its output.
no_critical_output() {
    if grep -E 'CRITICAL' "$E2E_TMP/app.out" >&2; then
        fail "the shell reported critical warnings"
    fi
}

source "$(dirname "${BASH_SOURCE[0]}")/status-item.sh"
