#!/usr/bin/env bash
# Runs vmkd and calmd in the simulated phone and reports what they did and why.
# By default it replays the bundled trace traces/generated.txt (54 s that walk
# through every load band and scaling rule, with a busy focused game and busy
# background work); --trace FILE replays another, such as one recorded with
# vmktrace. Other options go to the replay: --profile N, --params DIR,
# --android 9|13, --out DIR, --full (see tools/replay.sh).
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."
trace=traces/generated.txt
args=()
while (($#)); do
  if [[ $1 == --trace && $# -ge 2 ]]; then
    trace=$2
    [[ $trace == /* || ! -e $caller/$trace ]] || trace=$caller/$trace
    shift 2
  else
    args+=("$1")
    shift
  fi
done
exec tools/replay.sh "$trace" "${args[@]}"
