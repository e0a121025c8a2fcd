// calmd's log: "[calm]: " lines in the kernel log, or in its log file for a
// format that holds "[f]".
#pragma once

#include "log_line.h"

inline constexpr log_destinations calm_log = {"/dev/kmsg", "/data/media/0/calmd.log"};

int log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
