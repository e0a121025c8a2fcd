# Shell functions of the module's scripts (sourced, not run): which daemon
# processes are ours, starting and stopping them.

# The processes whose program file is the daemon's: a command line naming it
# proves nothing (any app can choose its own).
daemon_pids() {
  for exe in /proc/[0-9]*/exe; do
    if [ "$exe" -ef "$MODDIR/bin/$1" ]; then
      pid=${exe#/proc/}
      echo "${pid%/exe}"
    fi
  done
}

daemon_running() {
  [ -n "$(daemon_pids "$1")" ]
}

# Whether the user's storage, where vmkd's parameter files are, can be used.
# File-based encryption keeps it shut from the boot until the user first
# unlocks the phone: its names read as encrypted ones (base64 of at least 12
# characters) and nothing there opens or can be made (ENOKEY). A short plain
# name is found only once it is open: "Android", which vold makes on every
# mount of the storage after the unlock (PrepareAndroidDirs), or vmkd's own
# folder. Only looked up: nothing there is opened, listed or written.
storage_ready() {
  [ -d /data/media/0/Android ] || [ -d /data/media/0/vmk_params ]
}

# Moves the calling (sub)shell into the root groups of the hierarchies an app's
# processes are grouped in, each only where it exists: Android kills an app's
# uid_N/pid_M groups with the app, and a root manager's WebUI bridge runs the
# page's commands in the manager app's groups. The list is ksud's own, from
# switch_cgroups() in KernelSU's userspace/ksud/src/utils.rs: /acct,
# /dev/cg2_bpf, /sys/fs/cgroup, and /dev/memcg/apps unless
# ro.config.per_app_memcg is "false".
leave_app_cgroups() {
  # This process's own pid: in a subshell $$ is still the parent's.
  read -r self _ </proc/self/stat
  groups="/acct /dev/cg2_bpf /sys/fs/cgroup"
  [ "$(getprop ro.config.per_app_memcg 2>/dev/null)" = false ] || groups="$groups /dev/memcg/apps"
  for group in $groups; do
    [ -f "$group/cgroup.procs" ] && echo "$self" >"$group/cgroup.procs"
  done 2>/dev/null
}

# Starts the daemon once: a second start while it runs starts nothing. The
# starting subshell leaves the app's groups and becomes the daemon (exec),
# so that it is born where a boot-started one runs, in a session of its own
# where the phone has setsid (toybox and busybox do), on /dev/null.
start_daemon() {
  daemon_running "$1" && return 0
  (
    leave_app_cgroups
    command -v setsid >/dev/null && exec setsid "$MODDIR/bin/$1"
    exec "$MODDIR/bin/$1"
  ) </dev/null >/dev/null 2>&1 &
}

stop_daemon() {
  for pid in $(daemon_pids "$1"); do
    kill -9 "$pid" 2>/dev/null
  done
}
