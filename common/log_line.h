// One tagged line of a daemon's log.
#pragma once

#include <cstdarg>

struct log_destinations {
  const char* kernel_log;
  const char* log_file;  // for formats that hold the marker "[f]"
};

// The tag, the printf-expanded message and one newline, in one write: to the
// kernel log, or appended to the log file when the format holds "[f]". An
// over-long message is cut, never split. 0 when the line was written.
int write_log_line(const log_destinations& where, const char* tag, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
