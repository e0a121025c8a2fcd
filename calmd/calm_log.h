// calmd's log lines, after the "[calm]: " tag. They are made and read here
// alone, so that what explains them (the replay, the status command) reads
// what calmd wrote; calm_log_writer.h writes them.
#pragma once

#include <cstddef>

#include "process_identity.h"

inline constexpr const char calm_tag[] = "[calm]: ";

// A process name as calmd logs it: control bytes and backslash as \xHH. A
// record is one line only for readers of /dev/kmsg; dmesg splits it at each
// newline, and a name holding one would show a line calmd never wrote.
inline constexpr int logged_name_size = (comm_text_size - 1) * 4 + 1;
void logged_name(const char* name, char (&out)[logged_name_size]);

// The lines of a pass:
//   pass start  "___Active,_ctxt:%i,nr:%i___"
//   change      "%s (%i): %i%% [%i jiff], => %i>%i (%i>%i)" (usage above 0; the jiff slot is -1)
//               "%s (%i): => %i>%i (%i>%i)" (usage 0)
//   parent push "%s (%i): parent (%s (%i)) throttled: %i => %i."
enum class calm_line_kind { pass_start, change, parent_push };
struct calm_line {
  calm_line_kind kind = calm_line_kind::pass_start;
  int ctxt = 0, nr = 0;  // pass start: the activity sample
  char name[logged_name_size] = "";
  int pid = 0;
  int usage = 0;                                               // change: 0 logs the line without usage
  int nice = 0, new_nice = 0, old_policy = 0, new_policy = 0;  // change; parent push: nice, new_nice
  char parent[logged_name_size] = "";                          // parent push
  int ppid = 0;
};

// The line's text after the tag; the length snprintf gives.
int format_calm_line(const calm_line& line, char* out, size_t size);
// A line of calmd's log (after the tag) as calmd writes it; false for any other text.
bool parse_calm_line(const char* text, calm_line* out);
