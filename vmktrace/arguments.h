// vmktrace's command line: a recording (the default), or the status of the
// daemons now, once, live, or as the one line a root manager shows.
#pragma once

#include <cstddef>

enum class vmktrace_mode { record, status, live, description };

struct recorder_options {
  vmktrace_mode mode = vmktrace_mode::record;
  int seconds = 0;  // record: how long; live: how long (0: until stopped)
  int period_ms = 50;
  int processes_every_ms = 1000;
  bool json = false;                 // status and live
  bool dumpsys = true;               // status and live: ask Android for the focused app
  const char* since = nullptr;       // status: the load since an earlier status's counters
  const char* kernel_log = nullptr;  // status, live, description: a saved log instead of /dev/kmsg
};

inline constexpr const char* recorder_usage =
    "usage: vmktrace --seconds N [--period-ms 50] [--processes-every-ms 1000] > trace.txt\n"
    "       vmktrace --status [--json] [--no-dumpsys] [--since U,N,S,I,W] [--kernel-log FILE]\n"
    "       vmktrace --live [--json] [--no-dumpsys] [--seconds N] [--kernel-log FILE]\n"
    "       vmktrace --description [--kernel-log FILE]\n";

// False with a message (one line, no newline) on anything it cannot take.
bool parse_recorder_arguments(int argc, const char* const* argv, recorder_options* out, char* error, size_t size);
