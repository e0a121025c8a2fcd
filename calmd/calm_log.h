// calmd's log: "[calm]: " lines in the kernel log, or in its log file for a
// format that holds "[f]".
#pragma once

#include "log_line.h"
#include "process_identity.h"

inline constexpr log_destinations calm_log = {"/dev/kmsg", "/data/media/0/calmd.log"};

int log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A process name as calmd logs it: control bytes and backslash as \xHH. A
// record is one line only for readers of /dev/kmsg; dmesg splits it at each
// newline, and a name holding one would show a line calmd never wrote.
inline constexpr int logged_name_size = (comm_text_size - 1) * 4 + 1;
void logged_name(const char* name, char (&out)[logged_name_size]);
