// A stand-in process for the sandbox: takes its name from SB_COMM, then idles,
// spins (SB_MODE=busy, in SB_THREADS threads) or keeps renaming itself between
// its name and SB_OTHER_COMM (SB_MODE=rename). With SB_CHILD_COMM it first
// forks a child that takes that name and runs SB_CHILD_MODE.
// SB_MODE=replay: a stand-in of a recorded process. It burns the share of one
// core that its slot of the control file (SB_CONTROL, SB_SLOT) asks for, and
// starts the children the slot asks for, so that they have it as parent.
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
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
    for (int i = 1; threads != nullptr && i < atoi(threads) && i < 64; ++i) {
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
  __atomic_store_n(&mine.pid, static_cast<int32_t>(getpid()), __ATOMIC_SEQ_CST);
  constexpr long long period_ns = 20000000;  // burn, then rest, in 20 ms rounds
  for (;;) {
    const uint32_t generation = __atomic_load_n(&mine.generation, __ATOMIC_SEQ_CST);
    const int32_t request = __atomic_exchange_n(&mine.spawn_request, 0, __ATOMIC_SEQ_CST);
    if (request > 0) start_child(control, request - 1);
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

}  // namespace

int main() {
  const char* mode = getenv("SB_MODE");
  if (mode != nullptr && strcmp(mode, "replay") == 0) {
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
  become(getenv("SB_COMM"), getenv("SB_MODE"));
}
