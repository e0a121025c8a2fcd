#!/system/bin/sh
# Started by the root manager late in boot, in the background (Magisk and
# ksud do not wait for it): waits until the boot has completed, starts calmd,
# and vmkd once the user's storage can be used, each once (a second run starts
# nothing), and keeps the module's description telling what they do.
MODDIR=${0%/*}
. "$MODDIR/daemons.sh"

until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 2
done

start_daemon calmd

# vmkd's parameter files are in the user's storage, shut until the first
# unlock: started before it, vmkd would run on the defaults whatever the user
# chose. Looked for at once, after 2, 4 and 8 s more, then every 10 s, while
# the description loop below goes on.
(
  pause=2
  until storage_ready; do
    sleep "$pause"
    pause=$((pause * 2))
    [ "$pause" -gt 10 ] && pause=10
  done
  start_daemon vmkd
) </dev/null >/dev/null 2>&1 &

# Every 10 s, without a load sample or dumpsys: a few small reads.
while :; do
  sh "$MODDIR/control.sh" description
  sleep 10
done </dev/null >/dev/null 2>&1 &
