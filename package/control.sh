#!/system/bin/sh
# The root side of the module's WebUI and Action button. Fixed commands, each
# taking only what it checks; nothing it is given is run or put into a
# command line:
#   control.sh status [U,N,S,I,W]   the daemons now, as JSON, without dumpsys (the page's refresh);
#                                   the load since an earlier status's CPU counters
#   control.sh focus [U,N,S,I,W]    the same, with the focused app asked of Android (dumpsys)
#   control.sh set KEY VALUE        one parameter, through vmkctl (known keys, plain numbers)
#   control.sh start|stop vmkd|calmd  (vmkd not before the first unlock: it would run on the defaults)
#   control.sh description          module.prop's description: what the daemons do now
# VMK_KERNEL_LOG names a saved kernel log to read instead of /dev/kmsg.
MODDIR=${0%/*}
. "$MODDIR/daemons.sh"
ABOUT="Kernel tuning for the Velmora Kernel (vmkd) and per-process CPU throttling of busy background apps (calmd)."

describe() {
  if [ -n "$VMK_KERNEL_LOG" ]; then
    line=$("$MODDIR/bin/vmktrace" --description --kernel-log "$VMK_KERNEL_LOG") || return 0
  else
    line=$("$MODDIR/bin/vmktrace" --description) || return 0
  fi
  # vmktrace sees a stopped vmkd; until the first unlock the boot script holds it back.
  storage_ready || case $line in
    *"; stopped: vmkd") line="${line%; stopped: vmkd}; vmkd waits for the first unlock" ;;
    "stopped: vmkd and calmd") line="stopped: calmd; vmkd waits for the first unlock" ;;
  esac
  new="description=$line. $ABOUT"
  # Rewritten only when it changed, whole, by a rename in the module's own folder.
  [ "$(grep '^description=' "$MODDIR/module.prop")" = "$new" ] && return 0
  # A name of its own: the boot script's loop and the page may describe at once.
  tmp="$MODDIR/.module.prop.$$"
  while IFS= read -r l; do
    case $l in
      description=*) printf '%s\n' "$new" ;;
      *) printf '%s\n' "$l" ;;
    esac
  done <"$MODDIR/module.prop" >"$tmp" && mv -f "$tmp" "$MODDIR/module.prop"
  rm -f "$tmp"
}

case "$1" in
  status | focus)
    # The page's refresh: one program, no dumpsys (the focused app as calmd
    # last held it), and with the CPU counters of the page's last status the
    # load since then, without a 100 ms sample. "focus" asks Android, when the
    # user asks.
    since=$2
    case $since in
      *[!0-9,]*) echo "control.sh: $1 takes the counters of an earlier status" >&2; exit 2 ;;
    esac
    [ "$1" = status ] && set -- --no-dumpsys || set --
    [ -n "$since" ] && set -- "$@" --since "$since"
    if [ -n "$VMK_KERNEL_LOG" ]; then
      exec "$MODDIR/bin/vmktrace" --status --json "$@" --kernel-log "$VMK_KERNEL_LOG"
    fi
    exec "$MODDIR/bin/vmktrace" --status --json "$@"
    ;;
  set)
    [ $# -eq 3 ] || { echo "control.sh: set takes KEY VALUE" >&2; exit 2; }
    "$MODDIR/bin/vmkctl" set "$2" "$3" || exit $?
    describe
    ;;
  start | stop)
    case "$2" in
      vmkd | calmd) ;;
      *) echo "control.sh: $1 takes vmkd or calmd" >&2; exit 2 ;;
    esac
    # Both return at once; the page shows the daemon at its next refresh.
    if [ "$1" = start ]; then
      # Started before the first unlock, vmkd would run on the defaults.
      if [ "$2" = vmkd ] && ! storage_ready; then
        echo "vmkd starts after the first unlock: until then its parameter files in /data/media/0 cannot be read. The boot script starts it then." >&2
        exit 1
      fi
      # Not described here: the daemon is still being exec'd. The boot
      # script's loop describes it within 10 s.
      start_daemon "$2"
    else
      stop_daemon "$2"
      [ "$2" = calmd ] && echo "calmd stopped. What it pushed down stays so until it ends; calmd -r resets every process."
      describe
    fi
    ;;
  description) describe ;;
  *)
    echo "usage: control.sh status | focus | set KEY VALUE | start|stop vmkd|calmd | description" >&2
    exit 2
    ;;
esac
