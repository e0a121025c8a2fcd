// The record log between the sandboxed feeder and the explanation: one
// record per line, tab-separated, the first field its kind; times in
// microseconds since the replay began (trace time 0). Texts are escaped as
// in the trace. Each record kind below lists its fields in their order on
// the line; the feeder writes only through format_record and the
// explanation reads only through parse_record.
#pragma once

#include <string>
#include <string_view>
#include <tuple>
#include <variant>

#include "scaling_reads.h"
#include "trace_format.h"

namespace replay {

// The fed files, by the names the read records give them.
struct fed_file_name {
  const char* name;
  const char* path;
};
inline constexpr fed_file_name fed_file_names[] = {
    {"stat", "/proc/stat"}, {"loadavg", "/proc/loadavg"}, {"gpu", gpu_busy_file}, {"touch", touch_file}};

// R: a read of a fed file and what it held. For "stat" the line carries the
// eight counters, ctxt and procs_running; for the other files the text.
struct fed_read {
  static constexpr char kind = 'R';
  long long time_us = 0;
  int pid = 0;
  std::string file;
  unsigned long long cpu[trace::cpu_counter_count] = {};
  unsigned long long ctxt = 0;
  int running = 0;
  std::string text;
  bool operator==(const fed_read&) const = default;
};

// W: a write to a cpuset or cpufreq file, seen when it was closed.
struct output_write {
  static constexpr char kind = 'W';
  long long time_us = 0;
  int pid = 0;
  std::string path, text;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.pid, r.path, r.text);
  }
  bool operator==(const output_write&) const = default;
};

// K: a kernel-log line.
struct kernel_line {
  static constexpr char kind = 'K';
  long long time_us = 0;
  std::string text;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.text);
  }
  bool operator==(const kernel_line&) const = default;
};

// S: a stand-in started for the trace's process at index.
struct stand_in_started {
  static constexpr char kind = 'S';
  long long time_us = 0;
  int index = 0, pid = 0, recorded_pid = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.index, r.pid, r.recorded_pid);
  }
  bool operator==(const stand_in_started&) const = default;
};

// X: a stand-in ended.
struct stand_in_ended {
  static constexpr char kind = 'X';
  long long time_us = 0;
  int index = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.index);
  }
  bool operator==(const stand_in_ended&) const = default;
};

// N: a stand-in's scheduling seen changed.
struct scheduling_seen {
  static constexpr char kind = 'N';
  long long time_us = 0;
  int index = 0, nice = 0, policy = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.index, r.nice, r.policy);
  }
  bool operator==(const scheduling_seen&) const = default;
};

// F: the focused app the fake dumpsys now names (empty: none).
struct focus_named {
  static constexpr char kind = 'F';
  long long time_us = 0;
  std::string package;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.package);
  }
  bool operator==(const focus_named&) const = default;
};

// B: the stand-ins' recorded and granted share, permille of one core.
struct burn_shares {
  static constexpr char kind = 'B';
  long long time_us = 0;
  long long demand = 0, granted = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.demand, r.granted);
  }
  bool operator==(const burn_shares&) const = default;
};

// D: a daemon's main process (role: vmkd, calmd).
struct daemon_started {
  static constexpr char kind = 'D';
  std::string role;
  int pid = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.role, r.pid);
  }
  bool operator==(const daemon_started&) const = default;
};

// C: a daemon process's CPU time (clock ticks) and peak memory at the end.
struct daemon_spent {
  static constexpr char kind = 'C';
  int pid = 0;
  std::string role;
  long long ticks = 0;
  long hwm_kib = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.pid, r.role, r.ticks, r.hwm_kib);
  }
  bool operator==(const daemon_spent&) const = default;
};

// A: a stand-in's own CPU time (clock ticks) at its end.
struct stand_in_spent {
  static constexpr char kind = 'A';
  int index = 0;
  long long ticks = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.index, r.ticks);
  }
  bool operator==(const stand_in_spent&) const = default;
};

// T: the end of the replay.
struct replay_ended {
  static constexpr char kind = 'T';
  long long time_us = 0;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us);
  }
  bool operator==(const replay_ended&) const = default;
};

// !: a fault the feeder met.
struct feeder_fault {
  static constexpr char kind = '!';
  long long time_us = 0;
  std::string text;
  template <class R>
  static auto fields(R& r) {
    return std::tie(r.time_us, r.text);
  }
  bool operator==(const feeder_fault&) const = default;
};

using log_record =
    std::variant<fed_read, output_write, kernel_line, stand_in_started, stand_in_ended, scheduling_seen, focus_named,
                 burn_shares, daemon_started, daemon_spent, stand_in_spent, replay_ended, feeder_fault>;

// The record's line, without its newline.
std::string format_record(const log_record& r);
// One line without its newline; false on anything format_record does not
// write: an unknown kind, a field too many or too few, a number in another
// spelling or out of range, a bad escape.
bool parse_record(std::string_view line, log_record* out);

}  // namespace replay
