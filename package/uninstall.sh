#!/system/bin/sh
# Run by the root manager when the module is removed: stops both daemons.
# The parameter folder is kept, unless it holds a file named
# "remove-on-uninstall".
MODDIR=${0%/*}
PARAMS=/data/media/0/vmk_params

# A daemon is a process whose program file is one of ours; a command line
# naming them proves nothing (any app can choose its own).
for exe in /proc/[0-9]*/exe; do
  if [ "$exe" -ef "$MODDIR/bin/vmkd" ] || [ "$exe" -ef "$MODDIR/bin/calmd" ]; then
    pid=${exe#/proc/}
    kill -9 "${pid%/exe}" 2>/dev/null
  fi
done
rm -f /data/calmd.lock
if [ -f "$PARAMS/remove-on-uninstall" ]; then
  rm -rf "$PARAMS"
fi
