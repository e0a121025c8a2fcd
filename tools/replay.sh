#!/usr/bin/env bash
# Replays a recorded load trace through the real vmkd and calmd in the device
# sandbox and explains every decision: tools/replay.sh TRACE [--profile N]
# [--params DIR] [--android 9|13] [--out DIR] [--cores X] [--full].
# Writes report.txt, timeline.png, timeline.svg and timeline.json (Perfetto UI,
# chrome://tracing) to build/release/replay/<trace name> unless --out says otherwise.
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
# Paths are the caller's: made absolute before the change of folder.
args=()
for a in "$@"; do
  if [[ $a != -* && $a != /* && -e $caller/$a ]]; then a=$caller/$a; fi
  args+=("$a")
done
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target vmk_replay vmkd calmd sb_proc >/dev/null
exec build/release/tools/replay/vmk_replay "${args[@]}"
