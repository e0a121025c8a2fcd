#!/usr/bin/env bash
# Boots a throwaway virtual phone and runs the phone tests on it: Debian's
# arm64 kernel (a real Arm Linux) under qemu-system-aarch64 -M virt -smp 8,
# with an initramfs of busybox, the static arm64 vmkd, calmd, vmktrace, the
# module's files and the tests, and a disk with an ext4 file system with the
# encrypt feature for the user's storage. There the daemons run as root with no
# sandbox: the VM is the device. It ends by itself (bounded by --timeout) and leaves nothing running.
#   tools/phone_vm/phone-vm.sh [--build DIR] [--out DIR] [--timeout SECONDS]
#   tools/phone_vm/phone-vm.sh --bench [--quick] [--rounds N] [--build DIR] [--out DIR] [--timeout SECONDS]
# --build: an arm64 build tree (default build/arm64, configured and built if
# needed); --out: where the image, the console log and report.txt go.
# --bench: the phone runs its benchmark (bench/phone_bench.cpp) instead of the
# tests, and its output goes to bench.txt (default --out: BUILD/phone-bench);
# --quick and --rounds N are the benchmark's.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/arm64
out=
timeout=1200
bench=0 bench_args=()
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --bench) bench=1; shift ;;
    --quick) bench_args+=(--quick); shift ;;
    --rounds) bench_args+=(--rounds "$2"); shift 2 ;;
    *) echo "usage: tools/phone_vm/phone-vm.sh [--bench [--quick] [--rounds N]] [--build DIR] [--out DIR] [--timeout SECONDS]" >&2; exit 2 ;;
  esac
done
if ((!bench && ${#bench_args[@]})); then echo "phone-vm: --quick and --rounds go with --bench" >&2; exit 2; fi
# The benchmark runs about 16 minutes (3 rounds) of the phone's time.
if ((bench)) && [[ $timeout == 1200 ]]; then timeout=3600; fi
build=$(realpath -m "$build")
if ((bench)); then out=$(realpath -m "${out:-$build/phone-bench}"); fi
out=$(realpath -m "${out:-$build/phone-vm}")

tools/setup.sh
missing=()
for p in qemu-system-arm cpio e2fsprogs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "phone-vm: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [[ ! -x $build/tests/vm/phone_tests || ! -x $build/tools/sandbox/sb_proc ]] || { ((bench)) && [[ ! -x $build/tests/vm/phone_bench ]]; }; then
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j"$(nproc)" >/dev/null
fi

# The arm64 packages, downloaded and unpacked, never installed on this machine
# (dpkg is told of the architecture once, so that apt can download them).
cache=$out/cache
# The bench's phone boots the kernel that the tests' phone downloaded.
if ((bench)) && [[ ! -e $cache && -f $build/phone-vm/cache/ready ]]; then
  mkdir -p "$out" && ln -s "$build/phone-vm/cache" "$cache"
fi
mkdir -p "$cache"
if [[ ! -f $cache/ready ]]; then
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
  fi
  (cd "$cache" && { apt-get download -qq linux-image-arm64:arm64 busybox-static:arm64 2>/dev/null ||
    { DEBIAN_FRONTEND=noninteractive apt-get update -qq && apt-get download -qq linux-image-arm64:arm64 busybox-static:arm64 2>/dev/null; }; })
  image=$(dpkg-deb -f "$cache"/linux-image-arm64_*.deb Depends | grep -o 'linux-image-[^ ,]*' | head -1)
  (cd "$cache" && apt-get download -qq "$image:arm64" 2>/dev/null)
  for deb in "$cache"/"$image"_*.deb "$cache"/busybox-static_*.deb; do dpkg-deb -x "$deb" "$cache/root"; done
  touch "$cache/ready"
fi
kernel=$(ls "$cache"/root/boot/vmlinuz-* | head -1)
modules=$(ls -d "$cache"/root/lib/modules/* | head -1)

# The initramfs: busybox, the modules (each after those it needs), the programs and /init.
stage=$out/initramfs
rm -rf "$stage"
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,run,data,vmk,lib/modules}
cp "$cache/root/bin/busybox" "$stage/bin/"
: >"$stage/lib/modules/order"
add_module() {
  local name=$1 file
  grep -qx "$name" "$stage/lib/modules/order" && return
  file=$(find "$modules" -name "$name.ko" | head -1)
  [[ -n $file ]] || { echo "phone-vm: no module $name in the kernel package" >&2; exit 1; }
  for dep in $(strings -a "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do add_module "$dep"; done
  cp "$file" "$stage/lib/modules/"
  echo "$name" >>"$stage/lib/modules/order"
}
# ext4 and what file-based encryption takes: AES-256-XTS, AES-256-CTS and HMAC-SHA512.
for m in virtio_pci virtio_blk zram kyber-iosched bfq ext4 crc32c_generic ecb xts cts sha512_generic; do
  add_module "$m"
done
cp "$build/vmkd/vmkd" "$build/calmd/calmd" "$build/vmktrace/vmktrace" "$stage/vmk/"
cp "$build/tests/vm/phone_tests" "$stage/vmk/"
cp "$build/tools/sandbox/sb_proc" "$stage/vmk/sb_proc"
# The module as the build stages it for its zip; the tests bind it to /data/adb/modules/vmk.
[[ -x $build/package/stage/control.sh ]] || { echo "phone-vm: no staged module in $build/package/stage" >&2; exit 1; }
cp -a "$build/package/stage" "$stage/vmk/module"
if ((bench)); then
  mkdir -p "$stage/vmk/bench"
  for program in phone_bench frame_app burner nice_applier_loop; do cp "$build/tests/vm/$program" "$stage/vmk/bench/"; done
fi
cp tools/phone_vm/init.sh "$stage/init"
chmod 755 "$stage/init"
(cd "$stage" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1 >"$out/initramfs.gz")
truncate -s 64M "$out/disk.img"
rm -f "$out/userdata.img"
truncate -s 32M "$out/userdata.img"
PATH=$PATH:/usr/sbin:/sbin mke2fs -q -t ext4 -O encrypt -L userdata "$out/userdata.img"

# /init runs the benchmark, with its arguments, when the command line has this word.
if ((bench)); then
  bench_word=" vmk.bench=run"
  for arg in "${bench_args[@]}"; do bench_word+=",$arg"; done
fi
echo "phone-vm: booting $(basename "$kernel") with 8 CPUs under emulation (at most $timeout s)"
console=$out/console.log
started=$(date +%s)
status=0
# The phone ends by itself (it powers off after its tests); if this script is
# stopped first, so is the phone.
timeout --kill-after=10 "$timeout" qemu-system-aarch64 -M virt -cpu cortex-a53 -smp 8 -m 1024 \
  -nographic -no-reboot -kernel "$kernel" -initrd "$out/initramfs.gz" \
  -append "console=ttyAMA0 quiet panic=-1 vmk.throwaway_phone=1${bench_word:-}" \
  -drive "file=$out/disk.img,format=raw,if=none,id=disk" -device virtio-blk-pci,drive=disk \
  -drive "file=$out/userdata.img,format=raw,if=none,id=userdata" -device virtio-blk-pci,drive=userdata,serial=userdata \
  </dev/null >"$console" 2>&1 &
phone=$!
trap 'kill "$phone" 2>/dev/null || true' EXIT INT TERM
wait "$phone" || status=$?
trap - EXIT INT TERM
elapsed=$(($(date +%s) - started))
tr -d '\r' <"$console" >"$console.txt"

if ((bench)); then
  sed -n '/^=== phone: bench begins$/,/^=== phone: bench end status/p' "$console.txt" | sed '1d;$d' >"$out/bench.txt"
  cat "$out/bench.txt"
  result=$(sed -n 's/^=== phone: bench end status \([0-9]*\)$/\1/p' "$console.txt")
  if [[ $result != 0 ]]; then
    echo "phone-vm: the benchmark did not finish (status ${result:-none}, qemu status $status); console: $console.txt" >&2
    exit 1
  fi
  echo "phone-vm: $elapsed s in all; figures: $out/bench.txt"
  exit 0
fi

{
  echo "Virtual phone: $(basename "$kernel"), qemu-system-aarch64 -M virt -smp 8 (TCG), $elapsed s in all"
  grep -E '^=== phone: (booted|module|up)' "$console.txt" || true
  grep -E '^\[ *(RUN|OK|FAILED|PASSED|SKIPPED) *\]' "$console.txt" | grep -v '^\[ RUN' || true
  echo "Facts of the real kernel:"
  sed -n 's/^FACT /  /p' "$console.txt"
} >"$out/report.txt"
cat "$out/report.txt"
result=$(sed -n 's/^=== phone: tests end status \([0-9]*\)$/\1/p' "$console.txt")
if [[ -z $result ]]; then
  echo "phone-vm: the tests did not finish (qemu status $status); see $console.txt" >&2
  exit 1
fi
if [[ $result != 0 ]]; then
  grep -B2 -A12 -E 'Failure$' "$console.txt" | head -150 >&2 || true
  echo "phone-vm: the phone tests failed (status $result); console: $console.txt" >&2
  exit 1
fi
echo "phone-vm: all phone tests passed; console: $console.txt"
