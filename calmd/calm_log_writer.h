// calmd's log: its lines in the kernel log, or in its log file for a format
// that holds "[f]".
#pragma once

#include "calm_log.h"
#include "log_line.h"

inline constexpr log_destinations calm_log = {"/dev/kmsg", "/data/media/0/calmd.log"};

int log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the line with the tag, in one write.
void log_calm_line(const calm_line& line);
