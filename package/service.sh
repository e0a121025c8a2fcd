#!/system/bin/sh
# Started by the root manager late in boot: waits until the boot has
# completed, then starts each daemon once (a second run starts nothing), and
# keeps the module's description telling what they do.
MODDIR=${0%/*}
. "$MODDIR/daemons.sh"

until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 2
done

for daemon in vmkd calmd; do
  start_daemon "$daemon"
done

# Every 10 s, without a load sample or dumpsys: a few small reads.
while :; do
  sh "$MODDIR/control.sh" description
  sleep 10
done </dev/null >/dev/null 2>&1 &
