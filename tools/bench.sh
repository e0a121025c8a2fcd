#!/usr/bin/env bash
# Measures, in the device sandbox with static builds, what the daemons cost
# (CPU time and memory of their passes, against the targets) and what they do
# for the focused app (its frames beside busy background processes). Each
# section prints its table; the figures and plots go to build/bench-results.
#   --quick       fewer and shorter rounds
#   --cost        only the cost section
#   --benefit     only the benefit section (--rounds N: rounds of it, 3 unless told)
#   --phone       only the virtual phone's section: how fast vmkd follows a
#                 burst (on the phone and, to compare, in the sandbox), and the
#                 benefit section's frames on the phone with its real cpusets
#                 (--rounds N as above). It takes about 20 minutes (--quick: 4)
#                 of this machine's whole CPU, so the default run leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."
cost=1 benefit=1 phone=0 common=() benefit_args=()
while (($#)); do
  case "$1" in
    --quick) common+=(--quick) ;;
    --cost) benefit=0 ;;
    --benefit) cost=0 ;;
    --phone) cost=0 benefit=0 phone=1 ;;
    --rounds) benefit_args+=(--rounds "$2"); shift ;;
    *) echo "usage: $0 [--quick] [--cost | --benefit [--rounds N] | --phone [--rounds N]]" >&2; exit 2 ;;
  esac
  shift
done
tools/setup.sh
command -v gnuplot >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gnuplot-nox >/dev/null; }
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)" --target vmk_bench benefit_bench burst_bench >/dev/null
if ((cost)); then
  echo "== What the daemons cost"
  build/bench/bench/vmk_bench --out build/bench-results "${common[@]}"
fi
if ((benefit)); then
  ((cost)) && echo
  echo "== What the daemons do for the phone"
  build/bench/bench/benefit_bench --out build/bench-results "${common[@]}" "${benefit_args[@]}"
fi
if ((phone)); then
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j"$(nproc)" >/dev/null
  echo "== The virtual phone (tools/phone_vm/phone-vm.sh --bench)"
  build/bench/bench/burst_bench "${common[@]}"
  echo
  mkdir -p build/bench-results
  tools/phone_vm/phone-vm.sh --bench "${common[@]}" "${benefit_args[@]}" --out build/arm64/phone-bench
  cp build/arm64/phone-bench/bench.txt build/bench-results/phone_bench.txt
fi
