#!/system/bin/sh
# The root manager's Action button: the next profile (load-driven, fixed full
# speed, the same and boost, then load-driven again), then what the daemons
# do now. Root managers show what it prints but ignore its exit status (ksud,
# apd), so each failure is also said in a line of its own.
MODDIR=${0%/*}
if ! changed=$("$MODDIR/bin/vmkctl" next-profile 2>&1); then
  echo "The profile was not changed: ${changed:-vmkctl next-profile failed without a reason.}"
  exit 1
fi
echo "$changed"
echo "vmkd takes up to 10 s to switch between a fixed and the load-driven profile."
echo
failed=0
"$MODDIR/bin/vmktrace" --status || {
  echo "The status could not be shown (vmktrace --status failed)."
  failed=1
}
sh "$MODDIR/control.sh" description || {
  echo "The module's description was not updated (control.sh description failed)."
  failed=1
}
exit "$failed"
