// The recorder's command line.
#pragma once

#include <cstddef>

struct recorder_options {
  int seconds = 0;
  int period_ms = 50;
  int processes_every_ms = 1000;
};

inline constexpr const char* recorder_usage =
    "usage: vmktrace --seconds N [--period-ms 50] [--processes-every-ms 1000] > trace.txt\n";

// False with a message (one line, no newline) on anything it cannot take.
bool parse_recorder_arguments(int argc, const char* const* argv, recorder_options* out, char* error, size_t size);
