#!/bin/busybox sh
# /init of the throwaway virtual phone (tools/phone_vm/phone-vm.sh): mounts the real
# kernel file systems, loads the modules of the block devices, zram, the I/O
# schedulers, ext4 and its encryption, sets up zram swap and BFQ as a phone
# has them, runs the phone tests (which make the rest of the phone) and
# powers off.
/bin/busybox --install -s /bin
export PATH=/system/bin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs tmpfs /tmp
echo "=== phone: booted in $(cut -d' ' -f1 /proc/uptime) s"
while read -r module; do
  insmod "/lib/modules/$module.ko" || echo "=== phone: module $module did not load"
done </lib/modules/order
echo 256M >/sys/block/zram0/disksize && mkswap /dev/zram0 >/dev/null && swapon /dev/zram0
echo bfq >/sys/block/vda/queue/scheduler
# tools/phone_vm/phone-vm.sh --bench: the benchmark instead of the tests, its arguments
# after "run" in the word, joined by commas.
bench=$(sed -n 's/.*vmk\.bench=run\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' ')
if grep -q 'vmk\.bench=run' /proc/cmdline; then
  echo "=== phone: bench begins"
  # shellcheck disable=SC2086 # the words are the arguments
  timeout 3300 /vmk/bench/phone_bench $bench
  echo "=== phone: bench end status $?"
  echo "=== phone: up $(cut -d' ' -f1 /proc/uptime) s"
  poweroff -f
fi
echo "=== phone: tests begin"
# Within the script's own bound, so that a hang still ends with the tests' summary.
timeout 900 /vmk/phone_tests --gtest_color=no
echo "=== phone: tests end status $?"
echo "=== phone: up $(cut -d' ' -f1 /proc/uptime) s"
poweroff -f
