#!/usr/bin/env bash
# Runs one end-to-end script against the real program: in a private network
# namespace with only loopback (nothing can leave the machine), on a private
# D-Bus session; the script starts its desktop (lib.sh, gnome.sh).
#   run-e2e.sh SCRIPT BUILD_DIR
set -euo pipefail
script=$(realpath "$1")
build_dir=$(realpath "$2")
here=$(dirname "$(realpath "$0")")

if [ -z "${QUORVEL_E2E_ISOLATED:-}" ]; then
    export QUORVEL_E2E_ISOLATED=1
    if unshare -n true 2>/dev/null; then
        exec unshare -n -- "$0" "$@"
    fi
    echo "e2e: no private network namespace available; running on the host's loopback" >&2
fi
ip link set lo up 2>/dev/null || true

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -z "${QUORVEL_E2E_BUS:-}" ]; then
    export QUORVEL_E2E_BUS=1
    exec dbus-run-session --config-file="$here/session.conf" -- "$0" "$@"
fi

export E2E_BUILD_DIR=$build_dir
export E2E_SOURCE_DIR=$(realpath "$here/../..")
export E2E_ARTIFACTS=$build_dir/e2e-artifacts
mkdir -p "$E2E_ARTIFACTS"
exec bash "$script"
