#!/usr/bin/env bash
# What recording costs: runs the recorder (static build, as on the phone) for
# a while at its default periods and prints its own CPU time per second of
# recording, its peak memory and the trace's size. Read-only, so it runs on
# this machine directly. Options: --seconds N (default 30), --period-ms P (50).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=30 period=50
while (($#)); do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --period-ms) period=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--period-ms P]" >&2; exit 2 ;;
  esac
done
tools/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target vmktrace >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
TIMEFORMAT='%U %S %R'
{ time build/bench/vmktrace/vmktrace --seconds "$seconds" --period-ms "$period" >"$out/trace.txt"; } 2>"$out/time"
read -r user sys real <"$out/time"
bytes=$(stat -c %s "$out/trace.txt")
rows=$(grep -c '^S' "$out/trace.txt" || true)
processes=$(grep -c '^P' "$out/trace.txt" || true)
# Peak memory from a second, short run (the figure does not grow with time).
build/bench/vmktrace/vmktrace --seconds 2 --period-ms "$period" >/dev/null &
pid=$!
sleep 1.5
hwm=$(awk '/VmHWM/{print $2}' "/proc/$pid/status" 2>/dev/null || echo "?")
wait "$pid" || true
awk -v u="$user" -v s="$sys" -v r="$real" -v b="$bytes" -v n="$rows" -v p="$processes" -v sec="$seconds" \
    -v per="$period" -v hwm="$hwm" -v cpus="$(nproc)" 'BEGIN {
  cpu = u + s
  printf "vmktrace, %i s at %i ms on this machine (%i CPUs):\n", sec, per, cpus
  printf "  CPU time        %.3f s (user %.3f, system %.3f)\n", cpu, u, s
  printf "  per second      %.2f ms of CPU per second of recording (%.3f%% of one core)\n", cpu * 1000 / r, cpu * 100 / r
  printf "  samples         %i system rows (%.1f per second), %i process rows\n", n, n / r, p
  printf "  trace size      %i bytes, %.0f bytes per second (1 MB lasts %.0f s)\n", b, b / r, 1048576 / (b / r)
  printf "  peak memory     VmHWM %s KiB\n", hwm
}'
