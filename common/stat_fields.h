// The fields of /proc/<pid>/stat that the throttle pass uses.
#pragma once

struct stat_fields {
  int utime = 0, stime = 0, cutime = 0, cstime = 0;  // fields 14 to 17, clock ticks
  int nice = 0;                                      // field 19
};

// Fields are counted from the last ")", so a name holding blanks or ")"
// cannot shift them. Fields the text does not hold stay 0.
stat_fields parse_stat_fields(const char* text);

// Reads /proc/<pid>/stat; false when it cannot be opened.
bool read_stat_fields(int pid, stat_fields* out);
