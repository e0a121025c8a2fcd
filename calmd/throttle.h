// The throttle pass: measures every process over 100 ms and moves its nice
// value and policy from what it used.
#pragma once

#include <sys/types.h>

// Program-wide values that the daemon loop keeps and the pass reads.
extern int context_switch_delta;  // 2147483647 until the loop has measured
extern int runnable_count;        // 1 until the loop has measured
extern pid_t own_pid;             // 0 outside daemon mode

inline constexpr int max_listed_processes = 4096;
inline constexpr int first_examined_pid = 200;

void throttle_pass();
// Clears the scheduler statistics of every task from pid 2 on.
void reset_sched_stats();
