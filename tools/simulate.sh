#!/usr/bin/env bash
# Runs vmkd and calmd in the simulated device for a while and prints a report
# of what they changed. Options: --seconds N (default 15), --profile P (default 0).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target vmk_devsim vmkd calmd sb_proc >/dev/null
exec build/release/tools/vmk_devsim "$@"
