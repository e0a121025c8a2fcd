// The calling process's own CPU time, as the kernel accounts it.
#pragma once

#include <time.h>

inline long cpu_ns() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000000000L + ts.tv_nsec;
}
