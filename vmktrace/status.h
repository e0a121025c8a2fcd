// What the daemons are doing now, read from the live kernel files, the
// parameter files and the kernel log, and explained with the daemons' own
// pure code. Taking it writes nothing: it is safe on any phone, any time.
#pragma once

#include "calm_log.h"
#include "foreground.h"
#include "scaling.h"
#include "stat_fields.h"
#include "user_params.h"

inline constexpr int max_daemon_pids = 4;
struct daemon_status {
  int pids[max_daemon_pids] = {};
  int count = 0;  // processes running the daemon's program; more than the table holds are counted too
};

struct param_status {
  bool present = false;
  int value = 0;  // as vmkd reads it: 0 for a file that holds no number
};

// One of calmd's changes, as its log line has it.
struct calm_change {
  double age_s = -1;  // -1: the log gives no time
  calm_line line;
};
inline constexpr int max_changes = 12;

// Android 15's group for the focused window's app, which AOSP's
// system/core/rootdir/init.rc makes ("mkdir /dev/cpuset/foreground_window",
// its cpus copied from the root's: all CPUs). vmkd does not write it.
inline constexpr const char* foreground_window_file = "/dev/cpuset/foreground_window/cpus";

// Whose a value is, by vmkd's own table: told only while vmkd runs and the
// file could be read.
struct value_judgement {
  bool told = false;
  value_owner owner = value_owner::vmkd;
};
inline constexpr int frequency_limit_count = 4;  // in the order of frequency_limit

// A running program known to write cpuset lists or frequency limits.
struct writer_process {
  int pid = 0;
  char program[80] = "";  // its program file's name
  const char* kind = "";  // "power HAL", ...
};
inline constexpr int max_writers = 6;

struct status_snapshot {
  daemon_status vmkd, calmd;
  param_status params[user_param_count];
  param_status enable_boost;
  char cpus[cpuset_group_count][32] = {};  // as the kernel prints them; "" when unreadable
  int policy0_max = -1, policy0_min = -1, policy4_max = -1, policy4_min = -1;
  bool has_foreground_window = false;
  char foreground_window[32] = "";
  value_judgement cpus_whose[cpuset_group_count];
  value_judgement limits_whose[frequency_limit_count];
  // Looked for only when a value is another writer's.
  bool looked_for_writers = false;
  writer_process writers[max_writers];
  int writer_count = 0;  // more than the table holds are counted too
  // The load now, over one 100 ms sample as vmkd takes it (w over that sample),
  // or since an earlier status's counters.
  bool sampled = false;
  bool since_earlier = false;
  char counters[112] = "";  // this status's CPU counters, for a later --since: "u,n,s,i,w"
  scaling_inputs inputs{};
  scaling_choice choice{};
  char reason[160] = "";
  bool asked_focus = false;
  char focus[foreground_name_size] = "";
  // The process calmd last gave the focused app's hold, from its log: what
  // the page shows without running dumpsys.
  calm_change focus_hold;
  bool has_focus_hold = false;
  // calmd's kernel-log lines.
  bool log_read = false;
  double last_pass_age_s = -1;       // -1: no pass in the log, or no time
  calm_change changes[max_changes];  // the newest first
  int change_count = 0;
  // Processes whose latest line leaves them above nice 0 or in BATCH or
  // IDLE, that still_held_down finds so now and that no thread of holds back
  // (holds_the_process_back), of the first 512 the log names.
  int held_down = 0;
};

struct status_options {
  bool sample_load = true;           // the 100 ms load sample
  const char* since = nullptr;       // or the load since these counters of an earlier status ("u,n,s,i,w")
  bool ask_focus = true;             // dumpsys
  const char* kernel_log = nullptr;  // a saved log (dmesg's text) instead of /dev/kmsg
  bool look_for_writers = true;      // walk /proc for them when a value is another writer's
};

void take_status(const status_options& o, status_snapshot* out);

// The profile vmkd follows: the file's, or the default it creates the file with.
int profile_in_force(const status_snapshot& s);
// A limit's value in the snapshot; -1 when it could not be read.
int limit_value(const status_snapshot& s, frequency_limit limit);
// Tells whose each value read is, while vmkd runs; returns whether any is
// another writer's.
bool judge_values(status_snapshot* s);
// The kind of a program known to write cpuset lists or frequency limits,
// by the path of its program file; nullptr for any other program. Only a
// file under a system partition counts: an app can name a file or a process
// anything, but cannot put a file there.
const char* known_writer_kind(const char* program_path);

// The CPU counters of an earlier status ("u,n,s,i,w": five whole numbers of
// at most 20 digits) as the /proc/stat line they came from; false for any
// other text.
bool stat_line_from_counters(const char* counters, char* line, size_t size);

// Whether a process that calmd's latest line for its pid left down is held
// down still, by its /proc/<pid>/stat now: not a zombie, the process the line
// named (not one that took the pid after it), and still above nice 0 or in
// BATCH or IDLE. line_time_s: the line's kernel-log time, -1 when it has
// none; suspended_s: CLOCK_BOOTTIME less CLOCK_MONOTONIC now.
bool still_held_down(double line_time_s, const stat_fields& now, long ticks_per_s, double suspended_s);

// A process held down counts as such only when its threads in step were
// changed with it. Which threads were in step at a change cannot be read
// afterwards, so the count asks what a change leaves behind: a thread under
// SCHED_OTHER, SCHED_BATCH or SCHED_IDLE scheduled ahead of the main thread,
// but not above the lowest nice value calmd's lines for the process start
// from. A thread in step that a push down missed stays at such a value; one
// that a step back up missed stays lower, held down still. A thread set apart
// below the main thread leaves the count as it is, and so does one set apart
// above where calmd began (a render thread Android raised to -4 while the
// app was at 0): it was never in step. Real-time threads are neither moved
// nor counted. Ahead: a lower nice value outside SCHED_IDLE (which weighs
// less than nice 19), anything but SCHED_IDLE beside a main thread in it, or
// the same nice under SCHED_OTHER beside a main thread in SCHED_BATCH. Where
// the log has lost the first lines, a thread missed at a value below the
// ones left goes uncounted.
bool holds_the_process_back(const stat_fields& main_now, const stat_fields& thread, int lowest_old_nice);

// Reads calmd's lines of a kernel log into a snapshot, a line at a time:
// each a /dev/kmsg record ("6,123,4567890,-;text"), a dmesg line
// ("[  4.567890] text") or plain text. now_s: the boot-time clock, for ages.
class calm_log_reader {
 public:
  calm_log_reader(double now_s, status_snapshot* out) : now_s_(now_s), out_(out) {}
  void add_line(char* line);  // changed in place where /dev/kmsg escaped it
  // Counts the processes held down, by their /proc/<pid>/stat and this system's clocks.
  void finish();
  // The same with the process's fields from look (false: no such process)
  // and whether a thread of it holds it back, from held_back.
  void finish(long ticks_per_s, double suspended_s, bool (*look)(int pid, stat_fields* out),
              bool (*held_back)(int pid, const stat_fields& main_now, int lowest_old_nice));

 private:
  struct seen_process {
    int pid;
    bool held_down;       // by the latest line for it
    double time_s;        // that line's, -1 when it has none
    int lowest_old_nice;  // of the lines for it: where calmd's changes began
  };
  static constexpr int max_seen = 512;
  double now_s_;
  status_snapshot* out_;
  seen_process seen_[max_seen] = {};
  int seen_count_ = 0;
};
