#include "status.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "param_store.h"
#include "proc_dir.h"
#include "proc_path.h"
#include "status_format.h"
#include "value_file.h"

namespace {

// Where this program lies: the daemons are its neighbours in the module's bin/.
bool sibling_path(const char* name, char (&out)[512]) {
  char self[512];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = '\0';
  char* slash = strrchr(self, '/');
  if (slash == nullptr) return false;
  slash[1] = '\0';
  return snprintf(out, sizeof out, "%s%s", self, name) < static_cast<int>(sizeof out);
}

// A daemon runs when a process's program file is the daemon's file: its
// name or command line, which any app can choose, proves nothing.
void find_daemons(status_snapshot* out) {
  struct stat programs[2];
  bool known[2] = {};
  daemon_status* status[2] = {&out->vmkd, &out->calmd};
  const char* names[2] = {"vmkd", "calmd"};
  for (int i = 0; i < 2; ++i) {
    char path[512];
    known[i] = sibling_path(names[i], path) && stat(path, &programs[i]) == 0;
  }
  if (!known[0] && !known[1]) return;
  for_each_pid(after_init, [&](int pid) {
    char path[proc_path_size];
    struct stat st;
    if (stat(proc_path(path, pid, "exe"), &st) != 0) return;
    for (int i = 0; i < 2; ++i) {
      if (!known[i] || st.st_dev != programs[i].st_dev || st.st_ino != programs[i].st_ino) continue;
      daemon_status& d = *status[i];
      if (d.count < max_daemon_pids) d.pids[d.count] = pid;
      ++d.count;
    }
  });
}

// As vmkd reads a parameter, but a missing file stays missing.
void read_params(status_snapshot* out) {
  const int dir = open(param_dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  auto read_one = [dir](const char* key, param_status* p) {
    const int fd = open_shared_file(dir, key, O_RDONLY);
    struct stat st;
    p->present = fd >= 0 || fstatat(dir, key, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (fd >= 0) {
      scan_fd_f(fd, "%i\n", &p->value);
      close(fd);
    }
  };
  for (int i = 0; i < user_param_count; ++i) read_one(user_params[i].key, &out->params[i]);
  read_one(enable_boost_key, &out->enable_boost);
  close(dir);
}

// A list's first line, cut to what the snapshot holds; false when unreadable.
bool read_cpus(const char* path, char (&out)[32]) {
  value_text t;
  read_value_text(path, &t);
  if (!t.opened) return false;
  const size_t length = std::min(strcspn(t.text, "\n"), sizeof out - 1);
  memcpy(out, t.text, length);
  out[length] = '\0';
  return true;
}

void read_kernel_files(status_snapshot* out) {
  for (int i = 0; i < cpuset_group_count; ++i) read_cpus(cpuset_files[static_cast<size_t>(i)], out->cpus[i]);
  out->has_foreground_window = read_cpus(foreground_window_file, out->foreground_window);
  read_value(policy0_max_file, "%i", &out->policy0_max);
  read_value(policy0_min_file, "%i", &out->policy0_min);
  read_value(policy4_max_file, "%i", &out->policy4_max);
  read_value(policy4_min_file, "%i", &out->policy4_min);
}

// The first five counters of a /proc/stat "cpu" line, as "u,n,s,i,w".
void counters_of(const value_text& stat, char (&out)[112]) {
  char v[5][21];
  if (!stat.opened ||
      sscanf(stat.text, "cpu %20[0-9] %20[0-9] %20[0-9] %20[0-9] %20[0-9]", v[0], v[1], v[2], v[3], v[4]) != 5)
    return;
  snprintf(out, sizeof out, "%s,%s,%s,%s,%s", v[0], v[1], v[2], v[3], v[4]);
}

void sample_load(const char* since, status_snapshot* out) {
  scaling_texts texts;
  const bool given =
      since != nullptr && stat_line_from_counters(since, texts.stat_before.text, sizeof texts.stat_before.text);
  texts.stat_before.opened = given;
  read_scaling_texts(&texts, given);
  out->since_earlier = given;
  counters_of(texts.stat_after, out->counters);
  // w over this sample: the counter of its first read stands for a cycle before.
  scaling_memory memory;
  if (texts.stat_before.opened) sscanf(texts.stat_before.text, "cpu %*i %*i %*i %*i %i", &memory.iowait);
  out->inputs = scaling_inputs_from(texts, &memory);
  out->choice = choose_scaling(out->inputs);
  describe_decision(out->inputs, out->reason, sizeof out->reason);
  out->sampled = true;
}

int hex_digit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

// /dev/kmsg writes the bytes of a record's text that are not printable ASCII,
// and backslash, as \xHH; calmd's own text comes back from that.
void unescape_kmsg(char* text) {
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    const int high = in[0] == '\\' && in[1] == 'x' ? hex_digit(in[2]) : -1;
    const int low = high >= 0 ? hex_digit(in[3]) : -1;
    if (low >= 0 && (high != 0 || low != 0)) {
      *out++ = static_cast<char>(high * 16 + low);
      in += 3;
    } else {
      *out++ = *in;
    }
  }
  *out = '\0';
}

// Each record of /dev/kmsg, one read each, as the kernel hands them out. A
// FIFO there (a sandbox's) is no kernel log: reading it would take lines away.
bool read_kmsg(calm_log_reader* reader) {
  const int fd = open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    close(fd);
    return false;
  }
  char record[8192];
  for (;;) {
    const ssize_t n = read(fd, record, sizeof record - 1);
    if (n < 0 && (errno == EINTR || errno == EPIPE)) continue;  // EPIPE: records lost to newer ones
    if (n <= 0) break;
    record[n] = '\0';
    record[strcspn(record, "\n")] = '\0';  // continuation lines (" KEY=value") are not the text
    reader->add_line(record);
  }
  close(fd);
  return true;
}

// A saved log, line by line; of a long one, its newest megabyte.
bool read_saved_log(const char* path, calm_log_reader* reader) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  constexpr off_t most = 1 << 20;
  if (st.st_size > most) lseek(fd, st.st_size - most, SEEK_SET);
  char buffer[8192];
  char line[1200];
  size_t length = 0;
  bool overlong = false;
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        if (length + 1 < sizeof line)
          line[length++] = buffer[i];
        else
          overlong = true;
        continue;
      }
      line[length] = '\0';
      if (!overlong) reader->add_line(line);
      length = 0;
      overlong = false;
    }
  }
  close(fd);
  return true;
}

// Programs known to write cpuset lists or frequency limits themselves, by
// their program files as the services' own init files name them:
// - Pixel's power HAL, libperfmgr, on hints such as an app's launch: "service
//   vendor.power-hal-aidl /vendor/bin/hw/android.hardware.power-service.pixel-libperfmgr"
//   (hardware/google/pixel, power-libperfmgr/aidl/...pixel-libperfmgr.rc); the
//   same HAL built for other phones is android.hardware.power-service.<phone>
//   or android.hardware.power@1.N-service.<phone>-libperfmgr.
// - Qualcomm's perf HAL, itself and through msm_performance:
//   /vendor/bin/hw/vendor.qti.hardware.perf@N.M-service,
//   vendor.qti.hardware.perf-hal-service, vendor.qti.hardware.perf2-hal-service;
//   before Android 8 /system/vendor/bin/perfd.
// - Thermal engines: Qualcomm's "service thermal-engine /vendor/bin/thermal-engine"
//   (thermal-engine-v2 on newer ones), and the thermal HALs
//   /vendor/bin/hw/android.hardware.thermal@2.0-service.qti,
//   android.hardware.thermal-service.pixel.
// - MediaTek's power HAL: /vendor/bin/hw/vendor.mediatek.hardware.mtkpower@1.0-service,
//   vendor.mediatek.hardware.mtkpower-service.mediatek.
struct known_writer {
  const char* name;
  bool whole;  // the whole name, not its start
  const char* kind;
};
constexpr known_writer known_writers[] = {
    {"android.hardware.power-", false, "power HAL"},
    {"android.hardware.power@", false, "power HAL"},
    {"vendor.qti.hardware.perf", false, "Qualcomm perf HAL"},
    {"perfd", true, "Qualcomm perf HAL"},
    {"vendor.mediatek.hardware.mtkpower", false, "MediaTek power HAL"},
    {"thermal-engine", false, "thermal engine"},
    {"android.hardware.thermal-", false, "thermal HAL"},
    {"android.hardware.thermal@", false, "thermal HAL"},
};
// Read-only partitions: no app writes a file there.
constexpr const char* system_partitions[] = {"/vendor/", "/system/", "/system_ext/", "/product/", "/odm/"};

// A walk over /proc stops here: a phone runs a thousand processes or so.
constexpr int most_processes_examined = 8192;

// The running programs known to write such files, by their program files.
void find_writers(status_snapshot* out) {
  out->looked_for_writers = true;
  int examined = 0;
  for_each_pid(after_init, [&](int pid) {
    if (++examined > most_processes_examined) return;
    char path[proc_path_size];
    char target[512];
    const ssize_t n = readlink(proc_path(path, pid, "exe"), target, sizeof target - 1);
    if (n <= 0) return;  // a kernel thread, or gone
    target[n] = '\0';
    const char* kind = known_writer_kind(target);
    if (kind == nullptr) return;
    if (out->writer_count < max_writers) {
      writer_process& w = out->writers[out->writer_count];
      w.pid = pid;
      snprintf(w.program, sizeof w.program, "%s", strrchr(target, '/') + 1);
      w.kind = kind;
    }
    ++out->writer_count;
  });
}

}  // namespace

int profile_in_force(const status_snapshot& s) {
  const param_status& p = s.params[cur_profile];
  return p.present ? p.value : user_params[cur_profile].default_value;
}

int limit_value(const status_snapshot& s, frequency_limit limit) {
  switch (limit) {
    case frequency_limit::policy0_max: return s.policy0_max;
    case frequency_limit::policy4_max: return s.policy4_max;
    case frequency_limit::policy0_min: return s.policy0_min;
    case frequency_limit::policy4_min: break;
  }
  return s.policy4_min;
}

bool judge_values(status_snapshot* s) {
  // With vmkd stopped, nothing it wrote is kept up: the values are no one's to judge.
  if (s->vmkd.count == 0) return false;
  const int profile = profile_in_force(*s);
  bool another = false;
  for (int i = 0; i < cpuset_group_count; ++i) {
    if (s->cpus[i][0] == '\0') continue;
    s->cpus_whose[i] = {true, cpus_owner(profile, i, s->cpus[i])};
    another |= s->cpus_whose[i].owner == value_owner::another_writer;
  }
  for (int i = 0; i < frequency_limit_count; ++i) {
    const auto limit = static_cast<frequency_limit>(i);
    const int khz = limit_value(*s, limit);
    if (khz < 0) continue;
    s->limits_whose[i] = {true, frequency_owner(profile, limit, khz)};
    another |= s->limits_whose[i].owner == value_owner::another_writer;
  }
  return another;
}

const char* known_writer_kind(const char* program_path) {
  bool system = false;
  for (const char* dir : system_partitions) system |= strncmp(program_path, dir, strlen(dir)) == 0;
  const char* slash = strrchr(program_path, '/');
  if (!system || slash == nullptr) return nullptr;
  const char* name = slash + 1;
  for (const known_writer& w : known_writers)
    if (w.whole ? strcmp(name, w.name) == 0 : strncmp(name, w.name, strlen(w.name)) == 0) return w.kind;
  return nullptr;
}

bool stat_line_from_counters(const char* counters, char* line, size_t size) {
  int fields = 0, digits = 0;
  for (const char* c = counters;; ++c) {
    if (*c >= '0' && *c <= '9') {
      if (++digits > 20) return false;
    } else if ((*c == ',' || *c == '\0') && digits > 0) {
      ++fields;
      digits = 0;
      if (*c == '\0') break;
    } else {
      return false;
    }
  }
  if (fields != 5) return false;
  const int n = snprintf(line, size, "cpu  %s\n", counters);
  if (n < 0 || static_cast<size_t>(n) >= size) return false;
  for (char* c = line; *c != '\0'; ++c)
    if (*c == ',') *c = ' ';
  return true;
}

void calm_log_reader::add_line(char* line) {
  double time_s = -1;
  const char* message = line;
  long long usec = 0;
  int used = 0;
  if (sscanf(line, "%*d,%*u,%lld,%*[^;];%n", &usec, &used) == 1 && used > 0) {
    time_s = static_cast<double>(usec) / 1e6;
    message = line + used;
    unescape_kmsg(line + used);
  } else if (line[0] == '[' && sscanf(line, "[%lf]%n", &time_s, &used) == 1 && used > 0) {
    message = line + used;
    while (*message == ' ') ++message;
  }
  if (strncmp(message, calm_tag, sizeof calm_tag - 1) != 0) return;
  calm_line l;
  if (!parse_calm_line(message + sizeof calm_tag - 1, &l)) return;
  const double age = time_s >= 0 && now_s_ >= time_s ? now_s_ - time_s : -1;
  if (l.kind == calm_line_kind::pass_start) {
    out_->last_pass_age_s = age;
    return;
  }
  // Newest first: each change moves the older ones down.
  const int kept = out_->change_count < max_changes ? out_->change_count : max_changes - 1;
  for (int i = kept; i > 0; --i) out_->changes[i] = out_->changes[i - 1];
  out_->changes[0] = {age, l};
  if (is_focus_hold(l)) {
    out_->focus_hold = {age, l};
    out_->has_focus_hold = true;
  }
  if (out_->change_count < max_changes) ++out_->change_count;
  // A parent push changes the parent's nice value alone.
  const bool change = l.kind == calm_line_kind::change;
  const int pid = change ? l.pid : l.ppid;
  const bool down = l.new_nice > 0 || (change && (l.new_policy == SCHED_BATCH || l.new_policy == SCHED_IDLE));
  int i = 0;
  while (i < seen_count_ && seen_[i].pid != pid) ++i;
  if (i == seen_count_ && seen_count_ < max_seen) seen_[seen_count_++].lowest_old_nice = l.nice;
  if (i < seen_count_) seen_[i] = {pid, down, time_s, std::min(seen_[i].lowest_old_nice, l.nice)};
}

bool still_held_down(double line_time_s, const stat_fields& now, long ticks_per_s, double suspended_s) {
  if (now.state == 'Z' || now.state == 'X' || now.state == 'x') return false;
  if (now.nice <= 0 && now.policy != SCHED_BATCH && now.policy != SCHED_IDLE) return false;
  if (line_time_s < 0 || ticks_per_s <= 0) return true;  // no time: who holds the pid cannot be told
  // The start is on the boot-time clock (fork takes ktime_get_boottime_ns;
  // /proc gives it in ticks, rounded down), the line's time on the printk
  // clock (local_clock), which like CLOCK_MONOTONIC stops in suspend. The
  // start reads later by the time suspended before it, at most the offset
  // now: only a start past the line by more than that is surely a process
  // that took the pid since. A second's leeway: local_clock and
  // CLOCK_MONOTONIC are not kept in step.
  constexpr double clocks_leeway_s = 1.0;
  const double earliest_start_s =
      static_cast<double>(now.start_ticks) / static_cast<double>(ticks_per_s) - (suspended_s > 0 ? suspended_s : 0);
  return earliest_start_s <= line_time_s + clocks_leeway_s;
}

bool holds_the_process_back(const stat_fields& main_now, const stat_fields& thread, int lowest_old_nice) {
  const auto normal = [](int policy) { return policy == SCHED_OTHER || policy == SCHED_BATCH || policy == SCHED_IDLE; };
  if (!normal(thread.policy) || thread.state == 'Z' || thread.state == 'X' || thread.state == 'x') return false;
  if (thread.policy != SCHED_IDLE && thread.nice < lowest_old_nice) return false;
  const bool main_idle = main_now.policy == SCHED_IDLE;
  if (thread.policy == SCHED_IDLE || main_idle) return thread.policy != SCHED_IDLE && main_idle;
  if (thread.nice != main_now.nice) return thread.nice < main_now.nice;
  return thread.policy == SCHED_OTHER && main_now.policy == SCHED_BATCH;
}

namespace {

bool a_thread_holds_back(int pid, const stat_fields& main_now, int lowest_old_nice) {
  bool back = false;
  for_each_thread(pid, [&](int tid) {
    stat_fields thread;
    if (!back && tid != pid && read_task_stat_fields(pid, tid, &thread))
      back = holds_the_process_back(main_now, thread, lowest_old_nice);
  });
  return back;
}

}  // namespace

void calm_log_reader::finish() {
  // Monotonic first: a later boot-time reading only widens the bound.
  timespec monotonic, boot;
  clock_gettime(CLOCK_MONOTONIC, &monotonic);
  clock_gettime(CLOCK_BOOTTIME, &boot);
  const double suspended_s =
      static_cast<double>(boot.tv_sec - monotonic.tv_sec) + static_cast<double>(boot.tv_nsec - monotonic.tv_nsec) / 1e9;
  finish(sysconf(_SC_CLK_TCK), suspended_s, read_stat_fields, a_thread_holds_back);
}

void calm_log_reader::finish(long ticks_per_s, double suspended_s, bool (*look)(int pid, stat_fields* out),
                             bool (*held_back)(int pid, const stat_fields& main_now, int lowest_old_nice)) {
  out_->log_read = true;
  out_->held_down = 0;
  for (int i = 0; i < seen_count_; ++i) {
    stat_fields now;
    if (seen_[i].held_down && look(seen_[i].pid, &now) &&
        still_held_down(seen_[i].time_s, now, ticks_per_s, suspended_s) &&
        !held_back(seen_[i].pid, now, seen_[i].lowest_old_nice))
      ++out_->held_down;
  }
}

void take_status(const status_options& o, status_snapshot* out) {
  find_daemons(out);
  read_params(out);
  read_kernel_files(out);
  if (judge_values(out) && o.look_for_writers) find_writers(out);
  if (o.sample_load) sample_load(o.since, out);
  if (o.ask_focus) {
    foreground_app app;
    read_foreground_app(&app);
    memcpy(out->focus, app.name, sizeof out->focus);
    out->asked_focus = true;
  }
  // The kernel log's times are the monotonic clock's.
  calm_log_reader reader(static_cast<double>(monotonic_us()) / 1e6, out);
  if (o.kernel_log != nullptr ? read_saved_log(o.kernel_log, &reader) : read_kmsg(&reader)) reader.finish();
}
