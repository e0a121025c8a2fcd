// "/proc/<pid>/<leaf>" paths, built without printf: a pass builds several
// for every process, and formatting them was a large share of its own work.
#pragma once

inline constexpr int proc_path_size = 48;

// Writes the path into out (proc_path_size bytes) and returns it.
inline char* proc_path(char* out, int pid, const char* leaf) {
  char digits[12];
  int n = 0;
  unsigned value = pid < 0 ? 0u - static_cast<unsigned>(pid) : static_cast<unsigned>(pid);
  do digits[n++] = static_cast<char>('0' + value % 10);
  while ((value /= 10) > 0);
  char* at = out;
  for (const char* p = "/proc/"; *p;) *at++ = *p++;
  if (pid < 0) *at++ = '-';
  while (n > 0) *at++ = digits[--n];
  *at++ = '/';
  // Leaves are short constants ("stat", "cmdline"); the bound is a guard.
  for (char* end = out + proc_path_size - 1; *leaf && at < end;) *at++ = *leaf++;
  *at = '\0';
  return out;
}

// "/proc/<pid>/task/<tid>/<leaf>" into out (proc_path_size bytes): at most
// 6 + 11 + 6 + 11 + 1 bytes before a short leaf.
inline char* task_path(char* out, int pid, int tid, const char* leaf) {
  proc_path(out, pid, "task/");
  char* at = out;
  while (*at != '\0') ++at;
  char digits[12];
  int n = 0;
  unsigned value = tid < 0 ? 0u : static_cast<unsigned>(tid);
  do digits[n++] = static_cast<char>('0' + value % 10);
  while ((value /= 10) > 0);
  while (n > 0) *at++ = digits[--n];
  *at++ = '/';
  for (char* end = out + proc_path_size - 1; *leaf && at < end;) *at++ = *leaf++;
  *at = '\0';
  return out;
}
