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

# Starts the daemon once: a second start while it runs starts nothing. The
# daemon is the caller's own background job, not a subshell's that would
# wait for it and report its end.
start_daemon() {
  daemon_running "$1" && return 0
  "$MODDIR/bin/$1" </dev/null >/dev/null 2>&1 &
}

stop_daemon() {
  for pid in $(daemon_pids "$1"); do
    kill -9 "$pid" 2>/dev/null
  done
}
