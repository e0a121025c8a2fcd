#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "activity.h"
#include "scheduling.h"
#include "throttle.h"
#include "value_file.h"

namespace {

// Only a plain file of root's with no other name: a FIFO would block the
// open, a hard link's other name may be any file of /data. Anything else is
// refused like a file that cannot be opened.
int open_lock_file() {
  const int fd = open_shared_file(AT_FDCWD, lock_file, O_WRONLY | O_CREAT, 0644);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_uid != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

void keep_running(int) {}
// exit() is not safe inside a signal handler.
void end_quietly(int) { _exit(0); }

// Only the first 2048 bytes are read: on phones the "ctxt" line lies past
// them, and the delta stays 0.
int sample_context_switches(int* previous_total) {
  char text[2049];
  return read_text_file("/proc/stat", text, sizeof text) > 0 ? context_switch_delta(text, previous_total) : 0;
}

// Whole seconds on a clock that the wall clock's steps do not move (phones
// set theirs from the network, often hours off); it counts suspended time.
time_t clock_seconds() {
  timespec ts = {};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return ts.tv_sec;
}

[[noreturn]] void daemon_loop(pass_state& state) {
  int previous_context_switches = INT_MAX;
  // Far enough back that the first cycle runs a pass.
  time_t last_pass = clock_seconds() - 3;
  for (;;) {
    state.context_switch_delta = sample_context_switches(&previous_context_switches);
    read_value("/proc/loadavg", "%*f %*f %*f %i/%*i", &state.runnable_count);
    const time_t now = clock_seconds();
    if (pass_due(now, last_pass, state.context_switch_delta, state.runnable_count)) {
      throttle_pass(state);
      last_pass = now;
    }
    // Under SCHED_FIFO the nice value does not schedule the daemon, but the
    // commands it starts inherit it, and "-t" or another tool may have moved it.
    set_nice(state.own_pid, 0);
    usleep(1000000);
  }
}

}  // namespace

int start_daemon(const char* program_name) {
  signal(SIGTERM, keep_running);
  signal(SIGINT, keep_running);
  signal(SIGQUIT, keep_running);
  signal(SIGFPE, end_quietly);
  signal(SIGSEGV, end_quietly);

  if (strchr(program_name, '/') == nullptr) {
    const pid_t child = fork();
    if (child < 0) {
      fputs("calmd: cannot start the daemon\n", stderr);
      return 1;
    }
    if (child > 0) {
      puts("Daemon started");
      return 0;
    }
  }

  // Not truncated before the lock is held: the file names the running daemon.
  const int fd = open_lock_file();
  pass_state state;
  state.own_pid = getpid();
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    switch (errno) {
      case EWOULDBLOCK: puts("calmd: failed to launch, lock is already used!"); break;
      case EBADF: puts("calmd: lock file is not open file descriptor!"); break;
      case EINVAL: puts("calmd: invalid lock file descriptor!"); break;
      default: break;
    }
    return 1;
  }
  if (ftruncate(fd, 0) == 0) print_fd_f(fd, "%i\n", state.own_pid);
  daemon_loop(state);
}
