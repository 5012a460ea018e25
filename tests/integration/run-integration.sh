#!/usr/bin/env bash
# Runs the integration tests of the Linux platform code under a private
# virtual display and a private D-Bus session bus.
set -euo pipefail
binary=$1
shift
exec xvfb-run -a -s "-screen 0 1600x1000x24" dbus-run-session -- "$binary" "$@"
