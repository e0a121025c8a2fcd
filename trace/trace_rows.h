// The rows of a load trace and its header line: what each holds, and their
// writing and reading (see trace_format.h for the format). Pure code over
// caller-owned buffers, no heap: the recorder and the replay share it.
#pragma once

#include <cstddef>

#include "kernel_text.h"

namespace trace {

inline constexpr int format_version = 1;
inline constexpr int max_columns = 24;
inline constexpr int load_text_size = 16;
inline constexpr int focus_size = 128;
inline constexpr int comm_size = 73;
inline constexpr int cmdline_size = 257;

enum class kind { system, process, ended };

// Columns of each kind, in the order the writer uses. A reader needs all of
// them and ignores columns it does not know.
inline constexpr const char* system_columns[] = {"time_ms", "user",     "nice", "system", "idle",  "iowait", "irq",
                                                 "softirq", "steal",    "ctxt", "load1",  "load5", "load15", "runnable",
                                                 "tasks",   "last_pid", "gpu",  "touch",  "focus"};
inline constexpr const char* process_columns[] = {"time_ms", "pid",    "ppid",   "comm", "cmdline", "utime",
                                                  "stime",   "cutime", "cstime", "nice", "policy"};
inline constexpr const char* ended_columns[] = {"time_ms", "pid"};
inline constexpr int system_column_count = sizeof system_columns / sizeof system_columns[0];
inline constexpr int process_column_count = sizeof process_columns / sizeof process_columns[0];
inline constexpr int ended_column_count = sizeof ended_columns / sizeof ended_columns[0];

struct header {
  int version = format_version;
  int cpus = 8;                   // cpuN lines of the recorded /proc/stat
  int ctxt_at = 0;                // byte offset of its "ctxt" line
  int period_ms = 50;             // system sample period
  int processes_every_ms = 1000;  // process sample period
  // Position of each known column in the row (0 is the kind), per kind.
  int system_at[system_column_count] = {};
  int process_at[process_column_count] = {};
  int ended_at[ended_column_count] = {};
  int system_fields = 0, process_fields = 0, ended_fields = 0;  // fields a row of the kind has
};

struct system_row {
  long long time_ms = 0;
  unsigned long long cpu[cpu_counter_count] = {};
  unsigned long long ctxt = 0;
  char load[3][load_text_size] = {};  // as /proc/loadavg prints them: "0.52"
  int runnable = 0, tasks = 0, last_pid = 0;
  bool has_gpu = false, has_touch = false;
  int gpu = 0, touch = 0;
  char focus[focus_size] = {};
};

struct process_row {
  long long time_ms = 0;
  int pid = 0, ppid = 0;
  char comm[comm_size] = {};
  char cmdline[cmdline_size] = {};
  long long utime = 0, stime = 0, cutime = 0, cstime = 0;
  int nice = 0, policy = 0;
};

struct ended_row {
  long long time_ms = 0;
  int pid = 0;
};

struct row {
  kind what = kind::system;
  system_row system;
  process_row process;
  ended_row ended;
};

// Error text of the readers: "line N: what".
inline constexpr int error_size = 160;

// A header with the writer's column order.
header default_header();

// The header line; false when it does not fit.
bool format_header(const header& h, char* out, size_t size);
// One row with its newline; the length, or -1 when it does not fit.
int format_system_row(const system_row& r, char* out, size_t size);
int format_process_row(const process_row& r, char* out, size_t size);
int format_ended_row(const ended_row& r, char* out, size_t size);

// line: one line without its newline; line_number for the error text.
bool parse_header(const char* line, int line_number, header* out, char* error);
// Also refuses a time before previous_time_ms.
bool parse_row(const char* line, int line_number, const header& h, long long previous_time_ms, row* out, char* error);

}  // namespace trace
