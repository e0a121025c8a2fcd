#!/system/bin/sh
# Run by the root manager when the module is removed: stops both daemons.
# The parameter folder is kept, unless it holds a file named
# "remove-on-uninstall".
MODDIR=${0%/*}
PARAMS=/data/media/0/vmk_params
. "$MODDIR/daemons.sh"

stop_daemon vmkd
stop_daemon calmd
rm -f /data/calmd.lock
if [ -f "$PARAMS/remove-on-uninstall" ]; then
  rm -rf "$PARAMS"
fi
