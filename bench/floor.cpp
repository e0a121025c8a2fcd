// The least a pass can cost: only the system calls a throttle pass or a
// nice-applier pass must make for each process, with no other work.
// Prints the CPU time of each run in microseconds.
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cpu_clock.h"
#include "proc_dir.h"
#include "proc_path.h"

namespace {

constexpr int max_pids = 4096;

// The same walk and path builder the daemons use: they cost no more than
// the system calls themselves.
int list_pids(int* pids) {
  int count = 0;
  for_each_dir_entry("/proc", [&](const char* name) {
    if (*name >= '1' && *name <= '9' && count < max_pids) pids[count++] = atoi(name);
  });
  return count;
}

void read_file(const char* path, char* buffer, size_t size) {
  buffer[0] = '\0';
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = read(fd, buffer, size - 1);
  buffer[n > 0 ? n : 0] = '\0';
  close(fd);
}

// The nice field of a stat text: the 17th after the name's closing parenthesis.
int stat_nice(const char* text) {
  const char* at = strrchr(text, ')');
  for (int field = 0; at != nullptr && field < 17; ++field) at = strchr(at + 1, ' ');
  return at != nullptr ? atoi(at + 1) : 0;
}

// A process whose main thread changes has its other threads read, and those
// in step with it changed: two calls to read a thread, two to change it.
void change_threads(int pid) {
  for_each_thread(pid, [&](int tid) {
    if (tid == pid) return;
    getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    sched_getscheduler(tid);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0);
    const sched_param param = {0};
    sched_setscheduler(tid, SCHED_OTHER, &param);
  });
}

void throttle_pass(int* pids) {
  char path[proc_path_size], text[512];
  const int count = list_pids(pids);
  int again[max_pids];
  list_pids(again);  // the statistics reset walks /proc once more
  for (int i = 0; i < count; ++i) {
    proc_path(path, pids[i], "sched");
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (write(fd, "0", 1) < 0) text[0] = '\0';
      close(fd);
    }
  }
  read_file("/proc/stat", text, sizeof text);
  for (int i = 0; i < count; ++i) {
    proc_path(path, pids[i], "stat");
    read_file(path, text, sizeof text);
    proc_path(path, pids[i], "exe");
    access(path, F_OK);
  }
  usleep(100000);
  read_file("/proc/stat", text, sizeof text);
  for (int i = 0; i < count; ++i) {
    sched_getscheduler(pids[i]);
    proc_path(path, pids[i], "stat");
    read_file(path, text, sizeof text);
    // Idle at nice N, the pass moves a process to N / 2: a change when N is not 0.
    const bool changes = stat_nice(text) != 0;
    proc_path(path, pids[i], "comm");
    read_file(path, text, 72);
    proc_path(path, pids[i], "cmdline");
    read_file(path, text, 256);
    setpriority(PRIO_PROCESS, static_cast<id_t>(pids[i]), 0);
    const sched_param param = {0};
    sched_setscheduler(pids[i], SCHED_OTHER, &param);
    if (changes) change_threads(pids[i]);
  }
}

void nice_applier_pass(int* pids) {
  char path[proc_path_size], text[256];
  const int count = list_pids(pids);
  for (int i = 0; i < count; ++i) {
    proc_path(path, pids[i], "comm");
    read_file(path, text, 72);
    proc_path(path, pids[i], "cmdline");
    read_file(path, text, 256);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s throttle|nice RUNS\n", argv[0]);
    return 2;
  }
  const bool throttle = strcmp(argv[1], "throttle") == 0;
  static int pids[max_pids];
  for (int run = atoi(argv[2]); run > 0; --run) {
    const long start = cpu_ns();
    if (throttle)
      throttle_pass(pids);
    else
      nice_applier_pass(pids);
    printf("%.1f\n", static_cast<double>(cpu_ns() - start) / 1000.0);
  }
  return 0;
}
