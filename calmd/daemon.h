// Daemon mode: single instance by lock file, one activity sample a second,
// and a throttle pass when the system is busy or every few seconds.
#pragma once

#include <ctime>

inline constexpr const char* lock_file = "/data/calmd.lock";

// The context-switch total from the first bytes of /proc/stat; false when
// the text holds no "ctxt" line.
bool parse_context_switches(const char* text, int* total);

// Whether a cycle runs a pass: more than 2 s since the last one, more than
// 5999 context switches, or 5 or more runnable entities.
bool pass_due(time_t now, time_t last_pass, int ctxt_delta, int runnable);

// Signal handlers, optional fork, the lock; then the loop for ever.
// Returns the exit status of the starting process.
int start_daemon(const char* program_name);
