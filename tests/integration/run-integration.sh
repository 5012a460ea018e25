#!/usr/bin/env bash
# Runs the integration tests of the Linux platform code under a private
# virtual display, a private D-Bus session bus and a private D-Bus system bus
# (on which a test may play the login manager).
set -euo pipefail
binary=$1
shift
here=$(cd "$(dirname "$0")" && pwd)

folder=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-integration-XXXXXX")
daemon=
cleanUp() {
    if [[ -n $daemon ]]; then
        kill "$daemon" 2>/dev/null || true
        wait "$daemon" 2>/dev/null || true
    fi
    rm -rf "$folder"
}
trap cleanUp EXIT

dbus-daemon --nofork --config-file="$here/../e2e/system.conf" \
    --address="unix:path=$folder/system-bus" &
daemon=$!
for _ in $(seq 500); do
    [[ -S $folder/system-bus ]] && break
    sleep 0.01
done
if [[ ! -S $folder/system-bus ]]; then
    echo "run-integration.sh: the private system bus did not start" >&2
    exit 1
fi
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$folder/system-bus

# The session bus starts nothing on demand (no accessibility bus either): what
# runs on it is what the test started.
export NO_AT_BRIDGE=1
xvfb-run -a -s "-screen 0 1600x1000x24" \
    dbus-run-session --config-file="$here/../e2e/session.conf" -- "$binary" "$@"
