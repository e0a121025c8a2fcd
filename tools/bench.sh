#!/usr/bin/env bash
# Measures what the daemons cost (static builds, in the device sandbox) and
# prints one table with the targets; the figures and a plot go to
# build/bench-results. --quick runs fewer and shorter rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
command -v gnuplot >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gnuplot-nox >/dev/null; }
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)" --target vmk_bench >/dev/null
exec build/bench/bench/vmk_bench --out build/bench-results "$@"
