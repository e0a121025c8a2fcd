// Milliseconds on the clock that neither the wall clock's steps nor anything
// else moves back: for bounds and periods.
#pragma once

#include <time.h>

inline long long monotonic_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline long long monotonic_ms() { return monotonic_us() / 1000; }
