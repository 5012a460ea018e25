#!/usr/bin/env bash
# Sets up the machine, builds every configuration and runs every test: unit
# tests (also under AddressSanitizer and UndefinedBehaviorSanitizer), the
# Linux platform's integration tests, the local service's tests and the
# end-to-end runs of both builds under a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
for preset in asan fuzz cloud local; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
ctest --preset asan
ctest --preset asan-gui
ctest --preset fuzz
ctest --preset cloud
ctest --preset local
