// Preloaded into a dynamically linked program: its wall clock (time,
// gettimeofday, clock_gettime on the real-time clocks) steps back by the
// seconds that the control file holds, from the moment it holds them, as a
// phone's clock does when the network sets it. Other clocks are left alone.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sandbox.h"

namespace {

using clock_gettime_function = int (*)(clockid_t, timespec*);
clock_gettime_function real_clock_gettime = nullptr;

__attribute__((constructor)) void find_real_clock() {
  real_clock_gettime = reinterpret_cast<clock_gettime_function>(dlsym(RTLD_NEXT, "clock_gettime"));
}

long step_seconds() {
  const int saved_errno = errno;
  long step = 0;
  const int fd = open(sandbox::clock_step_file, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[32] = {};
    if (read(fd, text, sizeof text - 1) > 0) step = strtol(text, nullptr, 10);
    close(fd);
  }
  errno = saved_errno;
  return step;
}

timespec wall_clock() {
  timespec ts = {};
  if (real_clock_gettime == nullptr) find_real_clock();
  real_clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec -= step_seconds();
  return ts;
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): the C library's own, stood in for
extern "C" int clock_gettime(clockid_t clock, timespec* ts) noexcept {
  if (clock != CLOCK_REALTIME && clock != CLOCK_REALTIME_COARSE) {
    if (real_clock_gettime == nullptr) find_real_clock();
    return real_clock_gettime(clock, ts);
  }
  *ts = wall_clock();
  return 0;
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" time_t time(time_t* out) noexcept {
  const time_t now = wall_clock().tv_sec;
  if (out != nullptr) *out = now;
  return now;
}

extern "C" int gettimeofday(timeval* tv, void*) noexcept {
  const timespec now = wall_clock();
  tv->tv_sec = now.tv_sec;
  tv->tv_usec = now.tv_nsec / 1000;
  return 0;
}
