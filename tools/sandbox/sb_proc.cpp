// A stand-in process for the sandbox: takes its name from SB_COMM, then idles,
// spins (SB_MODE=busy) or keeps renaming itself between its name and
// SB_OTHER_COMM (SB_MODE=rename). With SB_CHILD_COMM it first forks a child
// that takes that name and runs SB_CHILD_MODE.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void become(const char* name, const char* mode) {
  if (name != nullptr) prctl(PR_SET_NAME, name);
  if (mode != nullptr && strcmp(mode, "busy") == 0) {
    volatile unsigned long spin = 0;
    for (;;) spin = spin + 1;
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

}  // namespace

int main() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (const char* child = getenv("SB_CHILD_COMM")) {
    if (fork() == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      become(child, getenv("SB_CHILD_MODE"));
    }
  }
  become(getenv("SB_COMM"), getenv("SB_MODE"));
}
