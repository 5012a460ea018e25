#!/usr/bin/env bash
# The installed shell in the fresh system ROOT, as its user "tester": under
# Xvfb (run here, its socket shared with the system) on a private session bus,
# in this network namespace, where only loopback is up. Part of
# package-fresh-system.sh; run in a namespace of its own.
#   package-fresh-run.sh ROOT ARTIFACTS
set -euo pipefail
root=$1
artifacts=$2
ip link set lo up
source "$(dirname "$0")/package-fresh-common.sh"
pids=()
shared_display=
cleanup() {
    local status=$? pid
    [ -z "$shared_display" ] || umount -l "$shared_display" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    exit "$status"
}
trap cleanup EXIT

export DISPLAY=:77
mkdir -p "$root/tmp/.X11-unix"
Xvfb "$DISPLAY" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for 20 xdpyinfo || fail "Xvfb did not start"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
shared_display=$root/tmp/.X11-unix

# The shell runs with the system's own programs only: dbus-run-session comes
# with the package's dependencies (dbus, through the engine's).
chroot "$root" su - tester -c "DISPLAY=$DISPLAY dbus-run-session -- quorvel" \
    >"$artifacts/fresh-system-quorvel.out" 2>&1 &
app=$!
pids+=($app)
window() { xdotool search --onlyvisible --name '^Quorvel$' | grep -q .; }
wait_for 60 window || fail "the window did not appear"
# [s]: the pattern does not match the command line that holds it. The
# service answers its API only with the token the shell gave it.
service() { pgrep -f 'share/quorvel/web/[s]erver.js'; }
service_token() {
    local pid
    pid=$(service | head -n 1) || return 1
    tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^QUORVEL_SERVICE_TOKEN=//p'
}
page_loads() {
    local token
    token=$(service_token) && [ -n "$token" ] || return 1
    node -e '
        require("http").get({ host: "127.0.0.1", port: 45721, path: "/api/status",
            headers: { "X-Quorvel-Service-Token": process.argv[1] } }, (res) => {
            let s = ""; res.on("data", (c) => (s += c));
            res.on("end", () => { const n = JSON.parse(s).pageLoads.count; process.exit(n > 0 ? 0 : 1); });
        }).on("error", () => process.exit(1));' "$token"
}
wait_for 60 page_loads || fail "the service counted no load of its page"
sleep 1
import -window root "$artifacts/fresh-system-window.png"
pass "the installed shell shows its window and the service's page"

quorvel_pid=$(pgrep -n -x quorvel)
service >/dev/null || fail "no service running"
kill -TERM "$quorvel_pid"
status=0
wait "$app" || status=$?
[ "$status" = 0 ] || fail "SIGTERM ended the shell with status $status"
wait_for 10 bash -c "! pgrep -f 'share/quorvel/web/[s]erver.js'" || fail "the service outlived the shell"
pass "SIGTERM: status 0, no service left"
