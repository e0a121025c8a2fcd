#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "throttle.h"
#include "throttle_rules.h"
#include "value_file.h"

namespace {

int previous_context_switches = 2147483647;

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

void sample_context_switches() {
  char text[2049];
  int delta = 0;
  const int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const ssize_t n = read(fd, text, 2048);
    close(fd);
    int total = 0;
    if (n > 0) {
      text[n] = '\0';
      if (parse_context_switches(text, &total)) {
        delta = wrapping_sub(total, previous_context_switches);
        previous_context_switches = total;
      }
    }
  }
  context_switch_delta = delta;
}

// Whole seconds on a clock that the wall clock's steps do not move (phones
// set theirs from the network, often hours off); it counts suspended time.
time_t clock_seconds() {
  timespec ts = {};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return ts.tv_sec;
}

[[noreturn]] void daemon_loop() {
  // Far enough back that the first cycle runs a pass.
  time_t last_pass = clock_seconds() - 3;
  for (;;) {
    sample_context_switches();
    read_value("/proc/loadavg", "%*f %*f %*f %i/%*i", &runnable_count);
    const time_t now = clock_seconds();
    if (pass_due(now, last_pass, context_switch_delta, runnable_count)) {
      throttle_pass();
      last_pass = now;
    }
    setpriority(PRIO_PROCESS, static_cast<id_t>(own_pid), 0);
    usleep(1000000);
  }
}

}  // namespace

bool parse_context_switches(const char* text, int* total) {
  const char* line = strstr(text, "ctxt");
  return line != nullptr && sscanf(line, "ctxt %i\n", total) == 1;
}

bool pass_due(time_t now, time_t last_pass, int ctxt_delta, int runnable) {
  return now - last_pass > 2 || ctxt_delta > 5999 || runnable >= 5;
}

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
  own_pid = getpid();
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    switch (errno) {
      case EWOULDBLOCK:
        puts("calmd: failed to launch, lock is already used!");
        break;
      case EBADF:
        puts("calmd: lock file is not open file descriptor!");
        break;
      case EINVAL:
        puts("calmd: invalid lock file descriptor!");
        break;
      default:
        break;
    }
    return 1;
  }
  if (ftruncate(fd, 0) == 0) print_fd_f(fd, "%i\n", own_pid);
  daemon_loop();
}
