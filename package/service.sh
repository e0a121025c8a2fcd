#!/system/bin/sh
# Started by the root manager late in boot: waits until the boot has
# completed, then starts each daemon once (a second run starts nothing).
MODDIR=${0%/*}

until [ "$(getprop sys.boot_completed)" = "1" ]; do
  sleep 2
done

# True when some process runs the program: its program file says so, not its
# command line, which any app can choose.
running() {
  for exe in /proc/[0-9]*/exe; do
    [ "$exe" -ef "$1" ] && return 0
  done
  return 1
}

for daemon in vmkd calmd; do
  if ! running "$MODDIR/bin/$daemon"; then
    "$MODDIR/bin/$daemon" </dev/null >/dev/null 2>&1 &
  fi
done
