// The fields of /proc/<pid>/stat that the throttle pass and the status use.
#pragma once

struct stat_fields {
  char state = 0;                                    // field 3: R, S, D, Z, X, ...
  int utime = 0, stime = 0, cutime = 0, cstime = 0;  // fields 14 to 17, clock ticks
  int nice = 0;                                      // field 19
  unsigned long long start_ticks = 0;                // field 22: clock ticks since boot
  int policy = 0;                                    // field 41
};

// Fields are counted from the last ")", so a name holding blanks or ")"
// cannot shift them. Fields the text does not hold stay 0.
stat_fields parse_stat_fields(const char* text);

// Reads /proc/<pid>/stat; false when it cannot be opened.
bool read_stat_fields(int pid, stat_fields* out);
// The same of one thread: /proc/<pid>/task/<tid>/stat.
bool read_task_stat_fields(int pid, int tid, stat_fields* out);
