#include "shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "clock.h"

extern char** environ;

namespace {

// Starts the shell on the command without copying the daemon: posix_spawn,
// or vfork where the C library has no posix_spawn (bionic before API 28).
// stdout_fd (if not -1, and above 2) becomes its standard output; detached
// puts it in a process group of its own under normal scheduling, whatever
// class the caller runs in (calmd runs real-time).
pid_t spawn_shell(const char* command, int stdout_fd, bool detached) {
  char sh[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
  const sched_param normal = {0};
#if (defined(__ANDROID__) && __ANDROID_API__ < 28) || defined(VMK_SHELL_VFORK)
  const pid_t pid = vfork();
  if (pid == 0) {
    if (detached) {
      setpgid(0, 0);
      sched_setscheduler(0, SCHED_OTHER, &normal);
    }
    if (stdout_fd >= 0) dup2(stdout_fd, STDOUT_FILENO);
    execve(shell_path(), argv, environ);
    _exit(127);
  }
  return pid;
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (detached) {
    // There is no attribute for the nice value: the command has the caller's.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSCHEDULER);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setschedpolicy(&attr, SCHED_OTHER);
    posix_spawnattr_setschedparam(&attr, &normal);
  }
  pid_t pid;
  const bool started = posix_spawn(&pid, shell_path(), &actions, &attr, argv, environ) == 0;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
#endif
}

// With SIGCHLD ignored (vmkd) the kernel reaps the child and waitpid ends in ECHILD.
void wait_child(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

const char* shell_path() {
  static const char* const path = access("/system/bin/sh", X_OK) == 0 ? "/system/bin/sh" : "/bin/sh";
  return path;
}

void run_shell(const char* command) {
  const pid_t pid = spawn_shell(command, -1, false);
  if (pid > 0) wait_child(pid);
}

long stream_shell_output(const char* command, int timeout_ms, output_sink sink, void* context) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  // With the standard streams closed the write end can be descriptor 1: a
  // dup2 onto itself would leave it close-on-exec, and the command mute.
  if (fds[1] <= STDERR_FILENO) {
    const int moved = fcntl(fds[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fds[1]);
    if (moved < 0) {
      close(fds[0]);
      return -1;
    }
    fds[1] = moved;
  }
  // Its own process group, so that a hung pipeline can be killed whole.
  const pid_t pid = spawn_shell(command, fds[1], true);
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return -1;
  }

  const long long deadline = monotonic_ms() + timeout_ms;
  long total = 0;
  bool timed_out = false;
  for (;;) {
    const long long left = deadline - monotonic_ms();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd pfd = {fds[0], POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = ready == 0;
      break;
    }
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
    sink(context, buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (timed_out) kill(-pid, SIGKILL);
  wait_child(pid);
  return timed_out ? -1 : total;
}
