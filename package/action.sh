#!/system/bin/sh
# The root manager's Action button: the next profile (load-driven, fixed full
# speed, the same and boost, then load-driven again), then what the daemons
# do now.
MODDIR=${0%/*}
"$MODDIR/bin/vmkctl" next-profile || exit 1
echo "vmkd takes up to 10 s to switch between a fixed and the load-driven profile."
echo
"$MODDIR/bin/vmktrace" --status
sh "$MODDIR/control.sh" description
