#!/usr/bin/env bash
# Sets up the machine, builds the shell with the bundled local service and
# starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset local >/dev/null
cmake --build --preset local
exec build/local/quorvel
