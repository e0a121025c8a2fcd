// Shell commands, run with /system/bin/sh on the phone and /bin/sh elsewhere
// (Android 7 to 9 have no /bin/sh, where a static libc's system() looks).
#pragma once

#include <cstddef>

// The shell this system uses.
const char* shell_path();

// Runs the command like system(): waits for it; its status is not used.
void run_shell(const char* command);

// Runs the command like popen(..., "re") and keeps up to size-1 bytes of its
// output, terminated. The whole run is bounded by timeout_ms: a pipeline still
// running then is killed. The command runs under SCHED_OTHER in a process
// group of its own. Returns the number of bytes kept, -1 if it could not start.
int read_shell_output(const char* command, char* out, size_t size, int timeout_ms);
