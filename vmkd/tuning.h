// The main process's loop: memory reclaim, low-memory killer, scheduler boost,
// I/O schedulers and zram, about every ten seconds.
#pragma once

#include <sys/types.h>

#include <array>

struct cycle_steps {
  bool liveness;  // every second cycle
  bool periodic;  // every third cycle: low-memory killer, boost, I/O schedulers
};
constexpr cycle_steps steps_of_cycle(unsigned n) { return {n % 2 == 0, n % 3 == 0}; }

// Tuning cycles ten seconds apart, for ever. Every second one also writes a
// kernel-log line for each long-lived child that is gone.
[[noreturn]] void tuning_loop(pid_t sscaling, pid_t nice_applier);
