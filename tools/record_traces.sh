#!/usr/bin/env bash
# Records the bundled traces on this machine with vmktrace (read-only, so it
# runs here directly): idle, a parallel build and heavy file I/O. Only the
# workload's own processes are kept in each trace (trace_tool keep-tree); the
# system rows hold the whole machine's counters.
# Usage: tools/record_traces.sh [SECONDS] (default 40)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target vmktrace trace_tool >/dev/null
recorder=build/release/vmktrace/vmktrace
tool=build/release/tools/replay/trace_tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# record NAME EVERY_MS COMMAND...: the command runs beside the recorder and is
# ended with it; processes are sampled every EVERY_MS (short-lived ones need less).
record() {
  local name=$1 every=$2
  shift 2
  "$recorder" --seconds "$seconds" --processes-every-ms "$every" >"$work/$name.raw" &
  local recorder_pid=$!
  sleep 0.3
  setsid bash -c "$*" >/dev/null 2>&1 &
  local workload=$!
  wait "$recorder_pid"
  kill -- -"$workload" 2>/dev/null || true
  wait "$workload" 2>/dev/null || true
  "$tool" keep-tree "$workload" <"$work/$name.raw" >"traces/$name.txt"
  printf '%-12s %8s bytes, %4s process rows\n' "$name" "$(stat -c %s "traces/$name.txt")" \
    "$(grep -c '^P' "traces/$name.txt" || true)"
}

record idle 1000 "sleep $((seconds + 5))"
# A fresh build of this project, two jobs at a time.
record build 250 "cmake -S '$PWD' -B '$work/build' -DCMAKE_BUILD_TYPE=Release -DVMK_TESTS=OFF -DVMK_DEVICE_TESTS=OFF && cmake --build '$work/build' -j2"
# Writing and reading a large file again and again, through the page cache and around it.
record file-io 1000 "while :; do dd if=/dev/zero of='$work/big' bs=1M count=400 conv=fsync status=none; dd if='$work/big' of=/dev/null bs=1M iflag=direct status=none; rm -f '$work/big'; done"
