// The throttle pass: measures every process over 100 ms and moves its nice
// value and policy from what it used.
#pragma once

#include <sys/types.h>

#include <climits>

#include "foreground.h"

// What a pass reads: the daemon loop's last activity sample and its own pid,
// which "-s" leaves at these first values; and the foreground app, which the
// pass itself keeps up to date.
struct pass_state {
  int context_switch_delta = INT_MAX;  // until the loop has measured
  int runnable_count = 1;
  pid_t own_pid = 0;  // 0 outside daemon mode: the pass then examines its own process too
  foreground_app foreground;
};

inline constexpr int max_listed_processes = 4096;
inline constexpr int first_examined_pid = 200;

void throttle_pass(pass_state& state);
