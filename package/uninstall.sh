#!/system/bin/sh
# Run by the root manager when the module is removed: stops both daemons.
# The parameter folder is kept, unless it holds a file named
# "remove-on-uninstall".
MODDIR=${0%/*}
PARAMS=/data/media/0/vmk_params

for cmdline in /proc/[0-9]*/cmdline; do
  case " $(tr '\0' ' ' <"$cmdline" 2>/dev/null)" in
    *" $MODDIR/bin/vmkd "* | *" $MODDIR/bin/calmd "*)
      pid=${cmdline#/proc/}
      kill -9 "${pid%/cmdline}" 2>/dev/null
      ;;
  esac
done
rm -f /data/calmd.lock
if [ -f "$PARAMS/remove-on-uninstall" ]; then
  rm -rf "$PARAMS"
fi
