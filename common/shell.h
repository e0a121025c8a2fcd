// Shell commands, run with /system/bin/sh on the phone and /bin/sh elsewhere
// (Android 7 to 9 have no /bin/sh, where a static libc's system() looks).
#pragma once

#include <cstddef>

// The shell this system uses.
const char* shell_path();

// Runs the command like system(): waits for it; its status is not used.
void run_shell(const char* command);

// Receives a command's output, piece by piece, as it arrives.
using output_sink = void (*)(void* context, const char* data, size_t length);

// Runs the command like popen(..., "re") and hands all its output to the
// sink. The whole run is bounded by timeout_ms: a pipeline still running then
// is killed. The command runs under SCHED_OTHER in a process group of its
// own. Returns the number of bytes it printed; -1 if it could not start or
// was killed, its output then perhaps cut anywhere.
long stream_shell_output(const char* command, int timeout_ms, output_sink sink, void* context);
