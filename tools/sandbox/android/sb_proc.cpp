// A stand-in process for the sandbox: takes its name from SB_COMM, then idles,
// spins (SB_MODE=busy, in SB_THREADS threads) or keeps renaming itself between
// its name and SB_OTHER_COMM (SB_MODE=rename). With SB_CHILD_COMM it first
// forks a child that takes that name and runs SB_CHILD_MODE.
// SB_MODE=app: the shape of an app. The main thread takes the values of
// SB_MAIN ("nice:policy"), starts the threads of SB_WORKERS (a line each,
// "comm:nice:policy:busy:late_comm") and waits. Each thread sets its own
// values, then its name, then spins or sleeps; on SIGUSR1 those with a
// late_comm start an idle thread of that name, which inherits their values.
// SB_MODE=replay: a stand-in of a recorded process, shaped as an app. A worker
// thread burns the share of one core that its slot of the control file
// (SB_CONTROL, SB_SLOT) asks for; the main thread starts the children the
// slot asks for, so that they have it as parent.
// SB_WRITES: files it writes first, a line each, "path value" (the value and
// a newline go in), as a vendor service does on a hint.
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standin_control.h"

namespace {

void* spin(void*) {
  volatile unsigned long spin = 0;
  for (;;) spin = spin + 1;
}

[[noreturn]] void become(const char* name, const char* mode) {
  if (name != nullptr) prctl(PR_SET_NAME, name);
  if (mode != nullptr && strcmp(mode, "busy") == 0) {
    // SB_THREADS spinning threads in all: one process that burns several CPUs.
    const char* threads = getenv("SB_THREADS");
    for (int i = 1; threads != nullptr && i < atoi(threads) && i < sandbox::max_spinning_threads; ++i) {
      pthread_t thread;
      pthread_create(&thread, nullptr, spin, nullptr);
    }
    spin(nullptr);
  }
  if (mode != nullptr && strcmp(mode, "rename") == 0) {
    const char* other = getenv("SB_OTHER_COMM");
    for (bool first = false;; first = !first) {
      prctl(PR_SET_NAME, first || other == nullptr ? name : other);
      usleep(500);
    }
  }
  for (;;) pause();
}

struct app_thread {
  char comm[16];
  int nice, policy;
  bool busy;
  char late_comm[16];
};
constexpr int max_app_threads = 32;
app_thread app_threads[max_app_threads];
int late_pipe[2] = {-1, -1};
volatile sig_atomic_t late_asked = 0;

void ask_late(int) {
  late_asked = 1;
  const char byte = 1;
  // Each sleeping thread with a late_comm takes one byte.
  for (int i = 0; i < max_app_threads; ++i)
    if (write(late_pipe[1], &byte, 1) != 1) break;
}

void take_values(int nice, int policy) {
  // The calls on the calling thread's own tid (0).
  const sched_param param = {policy == SCHED_FIFO || policy == SCHED_RR ? 1 : 0};
  sched_setscheduler(0, policy, &param);
  setpriority(PRIO_PROCESS, 0, nice);
}

void* idle_thread(void* name) {
  prctl(PR_SET_NAME, static_cast<const char*>(name));
  for (;;) pause();
}

void* app_thread_main(void* arg) {
  const app_thread& t = *static_cast<const app_thread*>(arg);
  take_values(t.nice, t.policy);
  prctl(PR_SET_NAME, t.comm);
  bool started = t.late_comm[0] == '\0';
  volatile unsigned long spin = 0;
  for (;;) {
    if (!started && late_asked) {
      started = true;
      pthread_t late;
      pthread_create(&late, nullptr, idle_thread, const_cast<char*>(t.late_comm));
    }
    if (t.busy) {
      for (int i = 0; i < 100000; ++i) spin = spin + 1;
    } else if (started) {
      pause();
    } else {
      char byte;
      if (read(late_pipe[0], &byte, 1) < 0) pause();
    }
  }
}

[[noreturn]] void app_stand_in() {
  int nice = 0, policy = SCHED_OTHER;
  if (const char* main_values = getenv("SB_MAIN")) sscanf(main_values, "%d:%d", &nice, &policy);
  take_values(nice, policy);
  if (pipe(late_pipe) != 0) _exit(2);
  signal(SIGUSR1, ask_late);
  const char* lines = getenv("SB_WORKERS");
  int count = 0;
  for (const char* at = lines; at != nullptr && *at != '\0' && count < max_app_threads; ++count) {
    app_thread& t = app_threads[count];
    int busy = 1;
    if (sscanf(at, "%15[^:]:%d:%d:%d:%15[^\n]", t.comm, &t.nice, &t.policy, &busy, t.late_comm) < 4) break;
    t.busy = busy != 0;
    pthread_t thread;
    pthread_create(&thread, nullptr, app_thread_main, &t);
    at = strchr(at, '\n');
    if (at != nullptr) ++at;
  }
  for (;;) pause();
}

long long nanoseconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Starts the stand-in of another slot as a child: its arguments from the
// slot's file, this program under the recorded command line.
void start_child(const char* control, int slot) {
  char path[512];
  snprintf(path, sizeof path, "%s.%i", control, slot);
  static char text[8192];
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return;
  text[n] = '\0';
  // A name may hold any byte but NUL, a newline too.
  const size_t name_end = strlen(text);
  if (static_cast<ssize_t>(name_end) >= n) return;
  char* argv[130];
  int argc = 0;
  for (char* at = text + name_end + 1; at < text + n && argc < 129; at += strlen(at) + 1) argv[argc++] = at;
  argv[argc] = nullptr;
  if (argc == 0) return;
  if (fork() == 0) {
    char slot_text[16];
    snprintf(slot_text, sizeof slot_text, "%i", slot);
    setenv("SB_SLOT", slot_text, 1);
    setenv("SB_COMM", text, 1);
    execv("/proc/self/exe", argv);
    _exit(127);
  }
}

// Burns the share its slot asks for, in 20 ms rounds.
void* replay_worker(void* slot) {
  sandbox::standin_slot& mine = *static_cast<sandbox::standin_slot*>(slot);
  constexpr long long period_ns = 20000000;
  for (;;) {
    const uint32_t generation = __atomic_load_n(&mine.generation, __ATOMIC_SEQ_CST);
    const int32_t permille = __atomic_load_n(&mine.permille, __ATOMIC_SEQ_CST);
    if (permille <= 0) {
      const timespec most = {1, 0};
      syscall(SYS_futex, &mine.generation, FUTEX_WAIT, generation, &most, nullptr, 0);
      continue;
    }
    // CPU time, not wall time: on a crowded machine the share is what counts.
    const long long start = nanoseconds(CLOCK_MONOTONIC);
    const long long cpu_start = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const long long budget = period_ns * (permille > 1000 ? 1000 : permille) / 1000;
    volatile unsigned long spin = 0;
    while (nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start < budget &&
           nanoseconds(CLOCK_MONOTONIC) - start < period_ns)
      for (int i = 0; i < 2000; ++i) spin = spin + 1;
    const long long rest = period_ns - (nanoseconds(CLOCK_MONOTONIC) - start);
    if (rest > 0) {
      const timespec pause_for = {0, static_cast<long>(rest)};
      nanosleep(&pause_for, nullptr);
    }
  }
}

// In the shape of an app: a worker thread burns while the main thread waits
// and starts the children asked for.
[[noreturn]] void replay_stand_in() {
  const char* control = getenv("SB_CONTROL");
  const char* slot_text = getenv("SB_SLOT");
  if (control == nullptr || slot_text == nullptr) _exit(2);
  const int fd = open(control, O_RDWR | O_CLOEXEC);
  if (fd < 0) _exit(2);
  const size_t size = sizeof(sandbox::standin_slot) * sandbox::standin_slots;
  auto* slots = static_cast<sandbox::standin_slot*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  close(fd);
  const int slot = atoi(slot_text);
  if (slots == MAP_FAILED || slot < 0 || slot >= sandbox::standin_slots) _exit(2);
  sandbox::standin_slot& mine = slots[slot];
  // Ended children are reaped by the kernel; the replay ends stand-ins by pid.
  signal(SIGCHLD, SIG_IGN);
  pthread_t worker;
  if (pthread_create(&worker, nullptr, replay_worker, &mine) != 0) _exit(2);
  __atomic_store_n(&mine.pid, static_cast<int32_t>(getpid()), __ATOMIC_SEQ_CST);
  for (;;) {
    const uint32_t generation = __atomic_load_n(&mine.generation, __ATOMIC_SEQ_CST);
    const int32_t request = __atomic_exchange_n(&mine.spawn_request, 0, __ATOMIC_SEQ_CST);
    if (request > 0) start_child(control, request - 1);
    const timespec most = {1, 0};
    syscall(SYS_futex, &mine.generation, FUTEX_WAIT, generation, &most, nullptr, 0);
  }
}

void write_files(const char* lines) {
  for (const char* at = lines; at != nullptr && *at != '\0';) {
    char path[256], value[64];
    if (sscanf(at, "%255s %63s", path, value) != 2) return;
    // One write, as a service writes a kernel file.
    char text[66];
    const int n = snprintf(text, sizeof text, "%s\n", value);
    const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) {
      if (write(fd, text, static_cast<size_t>(n)) != n) _exit(3);
      close(fd);
    }
    at = strchr(at, '\n');
    if (at != nullptr) ++at;
  }
}

}  // namespace

int main() {
  if (const char* replay = getenv("SB_MODE"); replay != nullptr && strcmp(replay, "replay") == 0) {
    if (const char* name = getenv("SB_COMM")) prctl(PR_SET_NAME, name);
    replay_stand_in();
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (const char* child = getenv("SB_CHILD_COMM")) {
    if (fork() == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      become(child, getenv("SB_CHILD_MODE"));
    }
  }
  write_files(getenv("SB_WRITES"));
  const char* mode = getenv("SB_MODE");
  if (mode != nullptr && strcmp(mode, "app") == 0) {
    if (const char* name = getenv("SB_COMM")) prctl(PR_SET_NAME, name);
    app_stand_in();
  }
  become(getenv("SB_COMM"), mode);
}
