#!/usr/bin/env bash
# Start-up time, memory and idle CPU of the shell against surf and
# `chromium --app`, all on the same page served by the local service on
# 127.0.0.1:80, plus the local build's whole start. Prints figures; never
# fails on them. See bench/README.md.
#
#   bench/run.sh                          5 rounds, 60 idle seconds each
#   RUNS=1 IDLE_SECONDS=10 bench/run.sh   a quick look
#   SCENARIO=background bench/run.sh      the shell alone: shown, closed, and
#                                         10 minutes after the close
#   SCENARIO=longrun bench/run.sh         the shell and surf left open on the
#                                         page for 2 hours (bench/longrun.py)
#
# SKIP_BUILD=1 measures build/bench/quorvel as it is; the other settings are
# listed at the top of bench/bench.py.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
root=$(dirname "$here")

if [ -z "${QUORVEL_BENCH_INNER:-}" ]; then
    # The background scenario measures the shell alone, and closes its window.
    if [ "${SCENARIO:-}" = background ]; then
        needed="wmctrl xwininfo"
    elif [ "${SCENARIO:-}" = longrun ]; then
        needed="surf"
    else
        needed="surf /usr/bin/chromium"
    fi
    for tool in $needed Xvfb openbox dunst dbus-send dbus-run-session xdotool \
        xdpyinfo node python3 unshare; do
        command -v "$tool" >/dev/null || {
            echo "bench: $tool is missing (surf: apt-get install --no-install-recommends surf;" \
                "wmctrl: apt-get install wmctrl)" >&2
            exit 2
        }
    done
    # The shell under test: the cloud backend pointed at the service the
    # benchmark runs on port 80, so it loads the same page as its peers.
    build=$root/build/bench
    if [ -z "${SKIP_BUILD:-}" ]; then
        if [ ! -f "$build/CMakeCache.txt" ]; then
            cmake -S "$root" -B "$build" -DQUORVEL_USE_CLOUD_BACKEND=ON \
                -DQUORVEL_CLOUD_BASE_URL=http://127.0.0.1 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        fi
        if ! cmake --build "$build" -j2 --target quorvel >"$build/bench-build.log" 2>&1; then
            tail -n 20 "$build/bench-build.log" >&2
            echo "bench: building $build failed (SKIP_BUILD=1 measures $build/quorvel as it is)" >&2
            exit 2
        fi
    fi
    [ -x "$build/quorvel" ] || { echo "bench: $build/quorvel is not built" >&2; exit 2; }
    # A private network namespace with only loopback: port 80 is ours and
    # nothing can leave the machine.
    unshare -n true 2>/dev/null || { echo "bench: needs a private network namespace (unshare -n)" >&2; exit 2; }
    export QUORVEL_BENCH_INNER=1
    # The session bus logs each activation; those lines are noise here.
    exec unshare -n -- dbus-run-session -- "$0" "$@" 2> >(grep -v -e '^dbus-daemon\[' \
        -e '^SpiRegistry daemon' -e 'Cannot acquire .org.freedesktop.Notifications' >&2)
fi

ip link set lo up

pids=()
cleanup() {
    # The display goes last, after the clients that would complain.
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

wait_for() {
    local tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.2
    done
}

# One display, window manager and notification server for every program.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 display_number <&"$displayfd" || { echo "bench: Xvfb did not start" >&2; exit 2; }
exec {displayfd}<&-
export DISPLAY=":$display_number"
wait_for 100 xdpyinfo || { echo "bench: display $DISPLAY not ready" >&2; exit 2; }
dbus-update-activation-environment DISPLAY >/dev/null 2>&1 || true
openbox >/dev/null 2>&1 &
pids+=($!)
dunst >/dev/null 2>&1 &
pids+=($!)
# Asking dunst itself would have the bus start a second one.
notification_server_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q 'boolean true'
}
wait_for 100 notification_server_up || { echo "bench: dunst did not start" >&2; exit 2; }

if [ "${SCENARIO:-}" = longrun ]; then
    python3 "$here/longrun.py"
else
    python3 "$here/bench.py"
fi
