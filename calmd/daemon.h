// Daemon mode: single instance by lock file, one activity sample a second,
// and a throttle pass when the system is busy or every few seconds.
#pragma once

inline constexpr const char* lock_file = "/data/calmd.lock";

// Signal handlers, optional fork, the lock; then the loop for ever.
// Returns the exit status of the starting process.
int start_daemon(const char* program_name);
