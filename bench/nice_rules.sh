#!/system/bin/sh
# The nice-applier rules the way phone tuning scripts apply them: a loop over
# /proc with grep and renice. The yardstick the nice applier is compared with.
for p in /proc/[0-9]*; do
  pid=${p#/proc/}
  [ "$pid" = 1 ] && continue
  text="$(cat "$p/comm" 2>/dev/null) $(tr '\0' ' ' <"$p/cmdline" 2>/dev/null)"
  if echo "$text" | grep -qE 'dex2oat|Metrica|metrica|Analytics|analytics|com\.xiaomi\.xmsf|com\.miui\.daemon|com\.miui\.msa\.global|android\.process\.media'; then
    chrt -i -p 0 "$pid" 2>/dev/null
  elif echo "$text" | grep -qE 'logd|com\.miui\.face|com\.google\.android\.apps\.photos|com\.google\.android\.music|com\.facebook\.appmanager'; then
    renice -n 19 -p "$pid" >/dev/null 2>&1
  elif echo "$text" | grep -q 'com\.mi\.android\.globalminusscreen'; then
    renice -n 4 -p "$pid" >/dev/null 2>&1
  elif echo "$text" | grep -q 'fingerprint'; then
    renice -n -3 -p "$pid" >/dev/null 2>&1
  elif echo "$text" | grep -q 'lmkd'; then
    renice -n 1 -p "$pid" >/dev/null 2>&1
  fi
done
