#!/bin/sh
# Runs a fuzz target so that the same build tries the same inputs every time:
#   repeatable-run.sh WORK_DIR FUZZ_TARGET [LIBFUZZER_ARGS...]
# WORK_DIR is emptied first and becomes the corpus folder the run writes to (and the place of any
# failing input). The caller passes -seed and -runs; corpus reloading is off, and address space
# randomisation too where the system lets a process turn it off (pointer values reach the
# fuzzer's comparison feedback, so they would steer the mutations).
set -eu
work=$1
target=$2
shift 2
rm -rf "$work"
mkdir -p "$work"
set -- "$target" -reload=0 -artifact_prefix="$work/" "$work" "$@"
arch=$(uname -m)
if setarch "$arch" -R true 2>/dev/null; then
    exec setarch "$arch" -R "$@"
fi
exec "$@"
