#!/usr/bin/env bash
# Builds everything, checks the format and clang-tidy's checks, and runs every test:
# - the release build: unit, device and long device tests, and the WebUI in
#   headless Chromium;
# - the sanitizer build: unit and device tests under AddressSanitizer and
#   UndefinedBehaviorSanitizer;
# - the fuzz build: a short run of every fuzz target;
# - the 64-bit Arm build: unit tests, the phone tests on a virtual phone (a
#   real Arm kernel under qemu-system-aarch64), then the device tests against
#   its binaries and package, under qemu.
# The device tests run the daemons only inside the device sandbox, the phone
# tests only on the throwaway virtual phone. The soak test is left out
# (ctest --preset release -L soak runs it).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)

for preset in release asan fuzz arm64; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs" >/dev/null
done

echo "== style: format and clang-tidy"
tools/check_style.sh
echo "== tests: release"
ctest --preset release -LE soak
echo "== tests: asan (AddressSanitizer, UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --preset asan -LE 'long|soak|webui'
echo "== tests: fuzz targets, a few seconds each"
ctest --preset fuzz
echo "== tests: arm64 unit tests (under qemu-aarch64-static)"
ctest --preset arm64 -LE vm
echo "== tests: the virtual phone, a real Arm kernel under qemu-system-aarch64 (the daemons unsandboxed there)"
ctest --preset arm64 -L vm
echo "== tests: device tests against the arm64 binaries and package (under qemu-aarch64-static)"
VMK_EMULATOR=qemu-aarch64-static VMKD_BINARY="$PWD/build/arm64/vmkd/vmkd" CALMD_BINARY="$PWD/build/arm64/calmd/calmd" \
  VMKTRACE_BINARY="$PWD/build/arm64/vmktrace/vmktrace" VMKCTL_BINARY="$PWD/build/arm64/vmkctl/vmkctl" \
  VMK_MODULE_ZIP="$(ls "$PWD"/build/arm64/vmk-module-*.zip)" ctest --preset release -L 'device|long'
