#!/usr/bin/env bash
# Runs every fuzz target for a while (default 600 s each; --seconds N), on
# corpora in build/fuzz-corpus seeded from this machine's own /proc files.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=600
[ "${1:-}" = "--seconds" ] && seconds=$2
tools/setup.sh
cmake --preset fuzz -DVMK_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null
rm -f build/fuzz/fuzz-corpus/summary.txt
ctest --preset fuzz --timeout $((seconds + 120))
cat build/fuzz/fuzz-corpus/summary.txt
