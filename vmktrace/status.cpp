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

void read_kernel_files(status_snapshot* out) {
  for (int i = 0; i < cpuset_group_count; ++i) {
    value_text t;
    read_value_text(cpuset_files[static_cast<size_t>(i)], &t);
    if (!t.opened) continue;
    // The list's first line, cut to what the snapshot holds.
    const size_t length = std::min(strcspn(t.text, "\n"), sizeof out->cpus[i] - 1);
    memcpy(out->cpus[i], t.text, length);
    out->cpus[i][length] = '\0';
  }
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

}  // namespace

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
